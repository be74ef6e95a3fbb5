#include "arith/mpi/rank_session.hpp"

#include <mpi.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <new>
#include <span>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

#include "arith/check/double_check.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

// Message tags.
enum Tag : int { kBlock = 1, kStop, kSpan, kDone, kHistogram, kError, kSample, kChecked };

// What a rank is asked to do with a block.
enum Task : std::uint64_t { kTally = 0, kCount = 1, kRecount = 2 };

// A block as sent: first, last, method, width of the sieve's counts, the
// task (its histogram back, its counts back, or its sample recounted), and
// whether the counts of its sample come back too (the double check).
using BlockMessage = std::array<std::uint64_t, 6>;
constexpr int kBlockFields = static_cast<int>(std::tuple_size_v<BlockMessage>);

// Waits for a message from `source` (or any), like MPI_Probe, but asleep:
// a rank waiting for the user's next answer, or for another rank's block,
// should not spin on a core the counting threads need.
MPI_Status waitFor(int source) {
  MPI_Status status;
  int arrived = 0;
  for (;;) {
    MPI_Iprobe(source, MPI_ANY_TAG, MPI_COMM_WORLD, &arrived, &status);
    if (arrived != 0) return status;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

int countOf(const MPI_Status& status, MPI_Datatype type) {
  int count = 0;
  MPI_Get_count(&status, type, &count);
  return count;
}

BlockMessage toMessage(const BlockPlan& block, std::uint64_t task, bool sample) {
  return {block.first,     block.last, static_cast<unsigned>(block.method),
          block.countBits, task,       sample ? 1u : 0u};
}

void sendCounts(const std::vector<common::Count>& counts, int tag) {
  static_assert(sizeof(common::Count) == sizeof(std::int64_t));
  MPI_Send(counts.data(), static_cast<int>(counts.size()), MPI_INT64_T, 0, tag, MPI_COMM_WORLD);
}

std::vector<common::Count> receiveSampleCounts(int rank, int tag) {
  MPI_Status status;
  MPI_Probe(rank, tag, MPI_COMM_WORLD, &status);
  std::vector<common::Count> counts(static_cast<std::size_t>(countOf(status, MPI_INT64_T)));
  MPI_Recv(counts.data(), static_cast<int>(counts.size()), MPI_INT64_T, rank, tag, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  return counts;
}

std::string placesOf(int owner, int checker) {
  return " (block on rank " + std::to_string(owner) + ", recounted on rank " + std::to_string(checker) + ")";
}

BlockPlan fromMessage(const BlockMessage& message) {
  BlockPlan block;
  block.first = message[0];
  block.last = message[1];
  SIGMA_ASSERT(message[2] <= static_cast<std::uint64_t>(Method::Window));
  block.method = static_cast<Method>(message[2]);
  block.countBits = static_cast<unsigned>(message[3]);
  return block;
}

// A serving rank's share of one block: its counts, span by span, then
// kDone; or its histogram; then, with the double check, its sample's counts.
// Or the recount of another rank's sample.
void serveBlock(DivisorArithmetic& arithmetic, const BlockMessage& message) {
  const BlockPlan block = fromMessage(message);
  if (message[4] == kRecount) {
    sendCounts(arithmetic.recountSample(block, DoubleCheck::sampleFor(block)), kChecked);
    return;
  }
  BlockSample sample;
  if (message[5] == 1) sample = DoubleCheck::sampleFor(block);
  BlockSample* kept = message[5] == 1 ? &sample : nullptr;
  if (message[4] == kCount) {
    std::vector<std::int64_t> span;
    const CountSink sink = [&](common::Int64 first, std::span<const common::Count> counts) {
      span.assign(1, first);
      span.insert(span.end(), counts.begin(), counts.end());
      MPI_Send(span.data(), static_cast<int>(span.size()), MPI_INT64_T, 0, kSpan, MPI_COMM_WORLD);
    };
    arithmetic.runPlannedBlock(block, &sink, nullptr, kept);
    MPI_Send(nullptr, 0, MPI_INT64_T, 0, kDone, MPI_COMM_WORLD);
  } else {
    CountHistogram histogram;
    arithmetic.runPlannedBlock(block, nullptr, &histogram, kept);
    std::vector<std::int64_t> pairs;
    histogram.forEach([&](common::Count n, common::Int64 values) {
      pairs.push_back(n);
      pairs.push_back(values);
    });
    MPI_Send(pairs.data(), static_cast<int>(pairs.size()), MPI_INT64_T, 0, kHistogram, MPI_COMM_WORLD);
  }
  if (kept != nullptr) sendCounts(sample.counts, kSample);
}

}  // namespace

RankSession::RankSession(int* argc, char*** argv) {
  int provided = 0;
  // Only each process's main thread calls MPI; the counting threads do not.
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
  MPI_Comm machine = MPI_COMM_NULL;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &machine);
  int local = 1;
  MPI_Comm_size(machine, &local);
  local_ = static_cast<unsigned>(std::max(1, local));
  takeLeaderCores(machine);
  MPI_Comm_free(&machine);
}

// mpirun binds each rank to cores of its own (one core each for two ranks):
// a serving rank on rank 0's machine adds rank 0's cores to its own, since
// rank 0 leaves them idle. Called before any counting thread starts, which
// inherit the main thread's cores.
void RankSession::takeLeaderCores(MPI_Comm machine) {
  int localRank = 0;
  MPI_Comm_rank(machine, &localRank);
  int leader = rank_ == 0 ? localRank : -1;  // rank 0's rank on this machine, if here
  MPI_Allreduce(MPI_IN_PLACE, &leader, 1, MPI_INT, MPI_MAX, machine);
  withLeader_ = leader >= 0;
  cpu_set_t mine;
  CPU_ZERO(&mine);
  const bool known = sched_getaffinity(0, sizeof mine, &mine) == 0;
  if (withLeader_) {
    cpu_set_t leaders = mine;
    MPI_Bcast(&leaders, static_cast<int>(sizeof leaders), MPI_BYTE, leader, machine);
    CPU_OR(&leaders, &leaders, &mine);
    if (known && rank_ != 0 && sched_setaffinity(0, sizeof leaders, &leaders) == 0) mine = leaders;
  }
  if (known) cores_ = static_cast<unsigned>(CPU_COUNT(&mine));
}

RankSession::~RankSession() { MPI_Finalize(); }

unsigned RankSession::threadsPerRank() const {
  const unsigned cores = std::thread::hardware_concurrency();
  // Rank 0 only hands out blocks when others serve, asleep between two
  // messages: the cores of its machine go to the serving ranks there.
  const bool takesLeaders = rank_ != 0 && withLeader_ && local_ > 1;
  const unsigned share = std::max(1u, cores / (takesLeaders ? local_ - 1 : local_));
  // A rank bound to fewer cores runs no more threads than it has.
  return cores_ != 0 ? std::max(1u, std::min(cores_, share)) : share;
}

void RankSession::serve(DivisorArithmetic& arithmetic) {
  for (;;) {
    const MPI_Status status = waitFor(0);
    if (status.MPI_TAG == kStop) {
      MPI_Recv(nullptr, 0, MPI_BYTE, 0, kStop, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      return;
    }
    BlockMessage message{};
    MPI_Recv(message.data(), kBlockFields, MPI_UINT64_T, 0, kBlock, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    std::string failure;
    try {
      serveBlock(arithmetic, message);
    } catch (const std::bad_alloc&) {
      failure = BlockFailure::kOutOfMemory;
    } catch (const std::exception& error) {
      failure = error.what();
    }
    if (!failure.empty())
      MPI_Send(failure.data(), static_cast<int>(failure.size()), MPI_CHAR, 0, kError, MPI_COMM_WORLD);
  }
}

void RankSession::stopServing() {
  for (int r = 1; r < size_; ++r) MPI_Send(nullptr, 0, MPI_BYTE, r, kStop, MPI_COMM_WORLD);
}

void RankSession::abort(int status) {
  MPI_Abort(MPI_COMM_WORLD, status);
  std::abort();
}

void RankSession::send(const BlockPlan& block, std::uint64_t task, bool sample, int rank) {
  const BlockMessage message = toMessage(block, task, sample);
  MPI_Send(message.data(), kBlockFields, MPI_UINT64_T, rank, kBlock, MPI_COMM_WORLD);
}

// A serving rank's failure, as a message: ends the calculation with its text.
void RankSession::failed(int rank) {
  MPI_Status status;
  MPI_Probe(rank, kError, MPI_COMM_WORLD, &status);
  std::string what(static_cast<std::size_t>(countOf(status, MPI_CHAR)), ' ');
  MPI_Recv(what.data(), static_cast<int>(what.size()), MPI_CHAR, rank, kError, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  throw BlockFailure(rank, what);
}

void RankSession::receiveCounts(int rank, const CountSink& sink) {
  std::vector<std::int64_t> span;
  for (;;) {
    const MPI_Status status = waitFor(rank);
    if (status.MPI_TAG == kError) failed(rank);
    if (status.MPI_TAG == kDone) {
      MPI_Recv(nullptr, 0, MPI_INT64_T, rank, kDone, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      return;
    }
    span.resize(static_cast<std::size_t>(countOf(status, MPI_INT64_T)));
    MPI_Recv(span.data(), static_cast<int>(span.size()), MPI_INT64_T, rank, kSpan, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    sink(span[0], std::span<const common::Count>(span.data() + 1, span.size() - 1));
  }
}

void RankSession::receiveHistogram(int rank, CountHistogram& histogram) {
  const MPI_Status status = waitFor(rank);
  if (status.MPI_TAG == kError) failed(rank);
  std::vector<std::int64_t> pairs(static_cast<std::size_t>(countOf(status, MPI_INT64_T)));
  MPI_Recv(pairs.data(), static_cast<int>(pairs.size()), MPI_INT64_T, rank, kHistogram, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  for (std::size_t k = 0; k + 1 < pairs.size(); k += 2) histogram.add(pairs[k], pairs[k + 1]);
}

// The blocks `next` hands out, a look-ahead at a time: histograms add up in
// any order, so their blocks go out costliest first (the last of each
// look-ahead: higher blocks have more candidates), which keeps the ranks'
// loads even at the end; counts go out in order, one at a time.
class RankSession::BlockQueue {
 public:
  BlockQueue(const std::function<bool(BlockPlan&)>& next, std::size_t lookAhead)
      : next_(next), lookAhead_(lookAhead) {}

  bool take(BlockPlan& block) {
    if (ahead_.empty()) {
      for (BlockPlan b; more_ && ahead_.size() < lookAhead_;) {
        more_ = next_(b);
        if (more_) ahead_.push_back(b);
      }
      std::reverse(ahead_.begin(), ahead_.end());
    }
    if (ahead_.empty()) return false;
    block = ahead_.front();
    ahead_.erase(ahead_.begin());
    return true;
  }

 private:
  const std::function<bool(BlockPlan&)>& next_;
  std::size_t lookAhead_;
  std::vector<BlockPlan> ahead_;
  bool more_ = true;
};

void RankSession::run(const std::function<bool(BlockPlan&)>& next, const CountSink* sink,
                      CountHistogram* histogram, const Finished& finished, const Recount* recount) {
  const std::size_t lookAhead = sink != nullptr ? 1 : std::size_t{8} * static_cast<std::size_t>(size_ - 1);
  BlockQueue queue(next, lookAhead);
  Jobs jobs;
  for (int r = size_ - 1; r >= 1; --r) jobs.idle.push_back(r);
  // Recounts go to another rank than the block's own; with one serving rank, to rank 0.
  const bool recountHere = recount != nullptr && (sink != nullptr || size_ == 2);
  const Task task = sink != nullptr ? kCount : kTally;
  handOut(jobs, queue, task, recount != nullptr);
  while (!jobs.pending.empty()) {
    Job done = sink != nullptr ? collectCounts(jobs.pending, *sink) : collectHistogram(jobs.pending);
    jobs.idle.push_back(done.checker >= 0 ? done.checker : done.rank);
    if (recount != nullptr) {
      if (done.checker < 0) {
        done.claimed = receiveSampleCounts(done.rank, kSample);
        if (!recountHere) {
          jobs.unchecked.push_back(std::move(done));
          handOut(jobs, queue, task, true);
          continue;
        }
      }
      const BlockSample sample = sampleOf(done);
      if (done.checker < 0) {
        done.checker = 0;  // recounted here
        done.recounted = (*recount)(done.block, sample);
      }
      compareSample(sample, done.recounted, placesOf(done.rank, done.checker));
    }
    if (histogram != nullptr) histogram->add(done.histogram);
    finished(done.block, sink != nullptr ? nullptr : &done.histogram);
    handOut(jobs, queue, task, recount != nullptr);
  }
  SIGMA_ASSERT(jobs.unchecked.empty());
}

// Each idle rank gets a job: the recount of another rank's block first, else
// the next block (its sample's counts asked for with the double check).
void RankSession::handOut(Jobs& jobs, BlockQueue& queue, std::uint64_t task, bool sample) {
  for (std::size_t k = 0; k < jobs.idle.size();) {
    const int rank = jobs.idle[k];
    const auto check = std::find_if(jobs.unchecked.begin(), jobs.unchecked.end(),
                                    [&](const Job& job) { return job.rank != rank; });
    BlockPlan block;
    if (check != jobs.unchecked.end()) {
      send(check->block, kRecount, false, rank);
      jobs.pending.push_back(std::move(*check));
      jobs.pending.back().checker = rank;
      jobs.unchecked.erase(check);
    } else if (queue.take(block)) {
      send(block, task, sample, rank);
      Job job;
      job.block = block;
      job.rank = rank;
      jobs.pending.push_back(std::move(job));
    } else {
      ++k;
      continue;
    }
    jobs.idle.erase(jobs.idle.begin() + static_cast<std::ptrdiff_t>(k));
  }
}

// A job's sample: its values drawn again, with the counts its rank claimed.
BlockSample RankSession::sampleOf(const Job& job) {
  BlockSample sample = DoubleCheck::sampleFor(job.block);
  SIGMA_ASSERT(sample.values.size() == job.claimed.size());
  sample.counts = job.claimed;
  return sample;
}

// The counts go out in order: the oldest block's first.
RankSession::Job RankSession::collectCounts(std::deque<Job>& pending, const CountSink& sink) {
  Job done = std::move(pending.front());
  pending.pop_front();
  receiveCounts(done.rank, sink);
  return done;
}

// Histograms add up in any order: whichever rank finishes first, with its
// block's histogram or its recount of another block's sample.
RankSession::Job RankSession::collectHistogram(std::deque<Job>& pending) {
  const MPI_Status status = waitFor(MPI_ANY_SOURCE);
  const auto it = std::find_if(pending.begin(), pending.end(), [&](const Job& job) {
    return (job.checker >= 0 ? job.checker : job.rank) == status.MPI_SOURCE;
  });
  SIGMA_ASSERT(it != pending.end());
  Job done = std::move(*it);
  pending.erase(it);
  if (status.MPI_TAG == kError) failed(status.MPI_SOURCE);
  if (done.checker >= 0) {
    done.recounted = receiveSampleCounts(done.checker, kChecked);
  } else {
    receiveHistogram(done.rank, done.histogram);
  }
  return done;
}

}  // namespace arith
