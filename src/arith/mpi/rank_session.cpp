#include "arith/mpi/rank_session.hpp"

#include <mpi.h>

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

#include "common/check.hpp"

namespace arith {

namespace {

// Message tags.
enum Tag : int { kBlock = 1, kStop, kSpan, kDone, kHistogram, kError };

// A block as sent: first, last, method, width of the sieve's counts, and
// whether its counts (1) or its histogram (0) come back.
using BlockMessage = std::array<std::uint64_t, 5>;

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

BlockMessage toMessage(const BlockPlan& block, bool counts) {
  return {block.first, block.last, static_cast<unsigned>(block.method), block.countBits, counts ? 1u : 0u};
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
// kDone; or its histogram.
void serveBlock(DivisorArithmetic& arithmetic, const BlockMessage& message) {
  const BlockPlan block = fromMessage(message);
  if (message[4] == 1) {
    std::vector<std::int64_t> span;
    const CountSink sink = [&](common::Int64 first, std::span<const common::Count> counts) {
      span.assign(1, first);
      span.insert(span.end(), counts.begin(), counts.end());
      MPI_Send(span.data(), static_cast<int>(span.size()), MPI_INT64_T, 0, kSpan, MPI_COMM_WORLD);
    };
    arithmetic.runPlannedBlock(block, &sink, nullptr);
    MPI_Send(nullptr, 0, MPI_INT64_T, 0, kDone, MPI_COMM_WORLD);
  } else {
    CountHistogram histogram;
    arithmetic.runPlannedBlock(block, nullptr, &histogram);
    std::vector<std::int64_t> pairs;
    histogram.forEach([&](common::Count n, common::Int64 values) {
      pairs.push_back(n);
      pairs.push_back(values);
    });
    MPI_Send(pairs.data(), static_cast<int>(pairs.size()), MPI_INT64_T, 0, kHistogram, MPI_COMM_WORLD);
  }
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
  MPI_Comm_free(&machine);
  local_ = static_cast<unsigned>(std::max(1, local));
}

RankSession::~RankSession() { MPI_Finalize(); }

unsigned RankSession::threadsPerRank() const {
  // Rank 0 only hands out blocks when others serve; the cores go to those.
  return std::max(1u, std::thread::hardware_concurrency() / local_);
}

void RankSession::serve(DivisorArithmetic& arithmetic) {
  for (;;) {
    const MPI_Status status = waitFor(0);
    if (status.MPI_TAG == kStop) {
      MPI_Recv(nullptr, 0, MPI_BYTE, 0, kStop, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      return;
    }
    BlockMessage message{};
    MPI_Recv(message.data(), 5, MPI_UINT64_T, 0, kBlock, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
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

void RankSession::send(const BlockPlan& block, bool counts, int rank) {
  const BlockMessage message = toMessage(block, counts);
  MPI_Send(message.data(), 5, MPI_UINT64_T, rank, kBlock, MPI_COMM_WORLD);
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
                      CountHistogram* histogram, const Finished& finished) {
  const std::size_t lookAhead = sink != nullptr ? 1 : std::size_t{8} * static_cast<std::size_t>(size_ - 1);
  BlockQueue queue(next, lookAhead);
  std::deque<Pending> pending;  // in increasing order of value
  std::vector<int> idle;
  for (int r = size_ - 1; r >= 1; --r) idle.push_back(r);
  auto handOut = [&] {
    BlockPlan block;
    while (!idle.empty() && queue.take(block)) {
      send(block, sink != nullptr, idle.back());
      pending.push_back({block, idle.back()});
      idle.pop_back();
    }
  };
  handOut();
  CountHistogram blockHistogram;
  while (!pending.empty()) {
    const Pending done = sink != nullptr ? collectCounts(pending, *sink)
                                         : collectHistogram(pending, *histogram, blockHistogram);
    idle.push_back(done.rank);
    finished(done.block, sink != nullptr ? nullptr : &blockHistogram);
    handOut();
  }
}

// The counts go out in order: the oldest block's first.
RankSession::Pending RankSession::collectCounts(std::deque<Pending>& pending, const CountSink& sink) {
  const Pending done = pending.front();
  receiveCounts(done.rank, sink);
  pending.pop_front();
  return done;
}

// Histograms add up in any order: whichever rank finishes first.
RankSession::Pending RankSession::collectHistogram(std::deque<Pending>& pending, CountHistogram& histogram,
                                                   CountHistogram& blockHistogram) {
  const MPI_Status status = waitFor(MPI_ANY_SOURCE);
  const auto it = std::find_if(pending.begin(), pending.end(),
                               [&](const Pending& p) { return p.rank == status.MPI_SOURCE; });
  SIGMA_ASSERT(it != pending.end());
  const Pending done = *it;
  pending.erase(it);
  blockHistogram.clear();
  receiveHistogram(done.rank, blockHistogram);
  histogram.add(blockHistogram);
  return done;
}

}  // namespace arith
