#include "arith/divisor_arithmetic.hpp"

#include <algorithm>
#include <thread>

#include "arith/blocks/block_counter.hpp"
#include "arith/check/double_check.hpp"
#include "arith/inversion/block_inverter.hpp"
#include "arith/plan/memory_budget.hpp"
#include "arith/primes/prime_table.hpp"
#include "arith/sieve/candidate_sums.hpp"
#include "arith/window/window_sums.hpp"
#include "common/check.hpp"

namespace arith {

using common::Int64;

// The methods and what they keep from one calculation to the next.
struct DivisorArithmetic::Methods {
  explicit Methods(unsigned threads)
      : counter(threads), candidates(table), window(table), inverter(table, threads) {}

  PrimeTable table;
  BlockCounter counter;      // a block's counts from the sums of a source:
  CandidateSums candidates;  // the sieve's,
  WindowSums window;         // or the window walk's;
  BlockInverter inverter;    // or the inversion, value by value
};

namespace {

unsigned defaultThreads(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

DivisorArithmetic::DivisorArithmetic(unsigned threads, std::uint64_t budgetCap, unsigned sharing)
    : threads_(defaultThreads(threads)),
      budgetCap_(budgetCap),
      sharing_(std::max(1u, sharing)),
      planner_(threads_, budgetCap != 0 ? budgetCap : kFallback),
      methods_(std::make_unique<Methods>(threads_)) {}

DivisorArithmetic::~DivisorArithmetic() = default;

std::uint64_t DivisorArithmetic::memoryBudget() const {
  const std::uint64_t machine = arith::memoryBudget(readMemory()) / sharing_;
  return budgetCap_ != 0 ? std::min(budgetCap_, machine) : machine;
}

void DivisorArithmetic::setStopFlag(StopFlag stop) {
  methods_->counter.setStopFlag(stop);
  methods_->inverter.setStopFlag(stop);
}

common::Count DivisorArithmetic::countOne(Int64 N) {
  SIGMA_ASSERT(N >= 1);
  return methods_->inverter.countOne(static_cast<std::uint64_t>(N));
}

common::Count DivisorArithmetic::preimages(Int64 N, const PreimageSink& sink) {
  SIGMA_ASSERT(N >= 1);
  return methods_->inverter.preimages(static_cast<std::uint64_t>(N), sink);
}

void DivisorArithmetic::countDivisorSums(Int64 L1, Int64 L2, const CountSink& sink,
                                         const ProgressSink& progress, const BlockDoneSink& blockDone) {
  runInterval(L1, L2, {&sink, nullptr, blockDone ? &blockDone : nullptr}, progress, nullptr);
}

void DivisorArithmetic::tallyDivisorSums(Int64 L1, Int64 L2, CountHistogram& histogram,
                                         const ProgressSink& progress, const BlockDoneSink& blockDone) {
  runInterval(L1, L2, {nullptr, &histogram, blockDone ? &blockDone : nullptr}, progress, nullptr);
}

void DivisorArithmetic::countWith(Method method, Int64 L1, Int64 L2, const CountSink& sink) {
  runInterval(L1, L2, {&sink, nullptr}, {}, &method);
}

void DivisorArithmetic::tallyWith(Method method, Int64 L1, Int64 L2, CountHistogram& histogram) {
  runInterval(L1, L2, {nullptr, &histogram}, {}, &method);
}

double DivisorArithmetic::plannedSeconds(Int64 L1, Int64 L2) {
  SIGMA_ASSERT(1 <= L1 && L1 <= L2);
  planner_.setMemoryBudget(memoryBudget());
  const double total = plannedCost(static_cast<std::uint64_t>(L1), static_cast<std::uint64_t>(L2));
  if (total < 0) return 0;
  return runner_ != nullptr ? total / runner_->parallelBlocks() : total;
}

// The sum of the planned blocks' costs; -1 past a few thousand blocks.
double DivisorArithmetic::plannedCost(std::uint64_t from, std::uint64_t to) const {
  constexpr int kPlannedAhead = 4096;
  double total = 0;
  int planned = 0;
  planner_.forEachBlock(from, to, [&](const BlockPlan& block) {
    total += block.cost;
    return ++planned < kPlannedAhead;
  });
  return planned < kPlannedAhead ? total : -1;
}

void DivisorArithmetic::runInterval(Int64 L1, Int64 L2, const BlockOutput& output,
                                    const ProgressSink& progress, const Method* forced) {
  SIGMA_ASSERT(1 <= L1 && L1 <= L2);
  planner_.setMemoryBudget(memoryBudget());
  const auto from = static_cast<std::uint64_t>(L1);
  const auto to = static_cast<std::uint64_t>(L2);
  if (runner_ != nullptr && forced == nullptr) {
    runOnRunner(from, to, output, progress);
  } else {
    runHere(from, to, output, progress, forced);
  }
}

// The planned blocks of [from, to] in order, with the progress of the whole:
// by the planned cost of the blocks, or past a few thousand blocks by the
// share of values done.
void DivisorArithmetic::runHere(std::uint64_t from, std::uint64_t to, const BlockOutput& output,
                                const ProgressSink& progress, const Method* forced) {
  const double total = plannedCost(from, to);
  const double width = static_cast<double>(to - from) + 1;
  methods_->window.expectUpTo(to, planner_.spanTallyBytes(to), planner_.lowPrimesBytes(from, to));
  double doneBefore = 0;
  planner_.forEachBlock(from, to, [&](BlockPlan block) {
    if (forced != nullptr) block.method = *forced;
    runTold(block, output, [&](double share) {
      if (!progress) return;
      if (total >= 0) {
        progress(total > 0 ? std::min(1.0, (doneBefore + share * block.cost) / total) : 1.0);
      } else {
        const auto values = static_cast<double>(block.last - block.first + 1);
        progress((static_cast<double>(block.first - from) + share * values) / width);
      }
    });
    doneBefore += block.cost;
    return true;
  });
  methods_->counter.release();
  methods_->window.release();
}

// One block, then its news to output.blockDone: a tally told block by block
// goes through the block's own histogram.
void DivisorArithmetic::runTold(const BlockPlan& block, const BlockOutput& output, const ProgressSink& done) {
  if (output.blockDone == nullptr) {
    runChecked(block, output, done);
    return;
  }
  CountHistogram own;
  BlockOutput here = output;
  if (output.histogram != nullptr) here.histogram = &own;
  runChecked(block, here, done);
  if (output.histogram != nullptr) output.histogram->add(own);
  (*output.blockDone)(static_cast<Int64>(block.first), static_cast<Int64>(block.last),
                      output.histogram != nullptr ? &own : nullptr);
}

// The blocks of [from, to], run by the runner; progress is told block by
// block, by the share of values done. Blocks for the inversion and the
// window walk are cut so that every rank gets several: their cost follows
// their width (each window piece walks the prefixes again, which the planner
// weighs when it plans the piece). A block for the sieve is cut only where
// its pieces, each planned on its own (the lowest sieved, the others walked
// as windows), cost less spread over the ranks than the whole block on one
// rank: a cut sieves again the candidates below each piece.
void DivisorArithmetic::runOnRunner(std::uint64_t from, std::uint64_t to, const BlockOutput& output,
                                    const ProgressSink& progress) {
  const std::uint64_t ranks = runner_->parallelBlocks();
  const std::uint64_t width = to - from + 1;
  bool more = true;
  auto next = [&](BlockPlan& block) {
    if (!more) return false;
    block = planner_.plan(from, to);
    const std::uint64_t most =
        block.method == Method::Sieve ? sievePieceWidth(block, ranks) : width / (8 * ranks) + 1;
    if (block.last - block.first >= most) block = planner_.plan(from, from + most - 1);
    more = block.last != to;
    from = block.last + 1;
    return true;
  };
  double done = 0;
  const BlockRunner::Recount recount = [this](const BlockPlan& block, const BlockSample& sample) {
    return recountSample(block, sample);
  };
  const auto finished = [&](const BlockPlan& block, const CountHistogram* own) {
    done += static_cast<double>(block.last - block.first + 1);
    if (progress) progress(done / static_cast<double>(width));
    if (output.blockDone != nullptr)
      (*output.blockDone)(static_cast<Int64>(block.first), static_cast<Int64>(block.last), own);
  };
  runner_->run(next, output.sink, output.histogram, finished, doubleCheck_ ? &recount : nullptr);
}

// The widest piece of a sieve block, when cutting it spreads it better over `ranks` ranks.
std::uint64_t DivisorArithmetic::sievePieceWidth(const BlockPlan& block, std::uint64_t ranks) const {
  const std::uint64_t whole = block.last - block.first + 1;
  if (ranks < 2) return whole;
  const std::uint64_t most = (whole - 1) / (2 * ranks) + 1;
  double spread = 0;
  for (std::uint64_t start = 0; start < whole; start += most)
    spread += planner_.plan(block.first + start, block.first + std::min(whole - 1, start + most - 1)).cost;
  return spread / static_cast<double>(ranks) < block.cost ? most : whole;
}

void DivisorArithmetic::runPlannedBlock(const BlockPlan& block, const CountSink* sink,
                                        CountHistogram* histogram, BlockSample* sample) {
  runBlock(block, {sink, histogram}, {}, sample);
}

std::vector<common::Count> DivisorArithmetic::recountSample(const BlockPlan& block,
                                                            const BlockSample& sample) {
  return DoubleCheck::recount(block, sample, methods_->inverter);
}

// One block, double-checked when asked: a block's histogram is added, and its
// counts reach an ordered sink, only once its sample is confirmed. (An
// ordered sink takes the counts as they come; a failed check then ends the
// calculation before the block is told done.)
void DivisorArithmetic::runChecked(const BlockPlan& block, const BlockOutput& output,
                                   const ProgressSink& done) {
  if (!doubleCheck_) {
    runBlock(block, output, done);
    return;
  }
  BlockSample sample = DoubleCheck::sampleFor(block);
  CountHistogram own;
  BlockOutput here = output;
  if (output.histogram != nullptr) here.histogram = &own;
  runBlock(block, here, done, &sample);
  compareSample(sample, recountSample(block, sample));
  if (output.histogram != nullptr) output.histogram->add(own);
}

void DivisorArithmetic::runBlock(const BlockPlan& block, const BlockOutput& output, const ProgressSink& done,
                                 BlockSample* sample) {
  Methods& m = *methods_;
  if (block.method == Method::Inversion) {
    m.inverter.count(block.first, block.last, output.sink, output.histogram, done, sample);
  } else {
    SumSource& sums = block.method == Method::Sieve ? static_cast<SumSource&>(m.candidates) : m.window;
    if (output.sink != nullptr) {
      m.counter.count(sums, block.first, block.last, block.countBits, *output.sink, done, sample,
                      block.prepared);
    } else {
      m.counter.tally(sums, block.first, block.last, block.countBits, *output.histogram, done, sample,
                      block.prepared);
    }
  }
  if (sample != nullptr) DoubleCheck::injectTestFault(block, *sample);
}

}  // namespace arith
