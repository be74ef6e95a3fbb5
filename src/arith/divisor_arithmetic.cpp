#include "arith/divisor_arithmetic.hpp"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "arith/blocks/parallel.hpp"
#include "arith/plan/memory_budget.hpp"

namespace arith {

using common::Count;
using common::Int64;

namespace {

unsigned defaultThreads(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

// Calls visit(block) for the planned blocks of [from, to] in order, while it returns true.
template <class Visit>
void forEachBlock(const CensusPlanner& planner, std::uint64_t from, std::uint64_t to, const Visit& visit) {
  for (;;) {
    const BlockPlan block = planner.plan(from, to);
    if (!visit(block) || block.last == to) return;
    from = block.last + 1;
  }
}

}  // namespace

DivisorArithmetic::DivisorArithmetic(unsigned threads, std::uint64_t budgetCap, unsigned sharing)
    : threads_(defaultThreads(threads)),
      budgetCap_(budgetCap),
      sharing_(std::max(1u, sharing)),
      planner_(threads_, budgetCap != 0 ? budgetCap : kFallback),
      sieve_(threads_),
      candidates_(table_),
      window_(table_) {}

std::uint64_t DivisorArithmetic::memoryBudget() const {
  const std::uint64_t machine = arith::memoryBudget(readMemory()) / sharing_;
  return budgetCap_ != 0 ? std::min(budgetCap_, machine) : machine;
}

void DivisorArithmetic::countDivisorSums(Int64 L1, Int64 L2, const CountSink& sink,
                                         const ProgressSink& progress, const BlockDoneSink& blockDone) {
  walk(L1, L2, {&sink, nullptr, blockDone ? &blockDone : nullptr}, progress, nullptr);
}

void DivisorArithmetic::tallyDivisorSums(Int64 L1, Int64 L2, CountHistogram& histogram,
                                         const ProgressSink& progress, const BlockDoneSink& blockDone) {
  walk(L1, L2, {nullptr, &histogram, blockDone ? &blockDone : nullptr}, progress, nullptr);
}

void DivisorArithmetic::countWith(Method method, Int64 L1, Int64 L2, const CountSink& sink) {
  walk(L1, L2, {&sink, nullptr}, {}, &method);
}

void DivisorArithmetic::tallyWith(Method method, Int64 L1, Int64 L2, CountHistogram& histogram) {
  walk(L1, L2, {nullptr, &histogram}, {}, &method);
}

double DivisorArithmetic::plannedCost(std::uint64_t from, std::uint64_t to) const {
  constexpr int kPlannedAhead = 4096;
  double total = 0;
  int planned = 0;
  forEachBlock(planner_, from, to, [&](const BlockPlan& block) {
    total += block.cost;
    return ++planned < kPlannedAhead;
  });
  return planned < kPlannedAhead ? total : -1;
}

double DivisorArithmetic::plannedSeconds(Int64 L1, Int64 L2) {
  planner_.setMemoryBudget(memoryBudget());
  const double total = plannedCost(static_cast<std::uint64_t>(L1), static_cast<std::uint64_t>(L2));
  if (total < 0) return 0;
  return runner_ != nullptr ? total / runner_->parallelBlocks() : total;
}

// The planned blocks of [L1, L2] in order, with the progress of the whole.
void DivisorArithmetic::walk(Int64 L1, Int64 L2, const Output& output, const ProgressSink& progress,
                             const Method* forced) {
  planner_.setMemoryBudget(memoryBudget());
  const auto from = static_cast<std::uint64_t>(L1);
  const auto to = static_cast<std::uint64_t>(L2);
  if (runner_ != nullptr && forced == nullptr) {
    walkElsewhere(from, to, output, progress);
    return;
  }
  // The estimated cost of the whole interval, to report progress by; for
  // intervals of very many blocks, the share of values done stands in for it.
  const double total = plannedCost(from, to);
  const bool byCost = total >= 0;
  const double width = static_cast<double>(to - from) + 1;
  double doneBefore = 0;
  CountHistogram blockHistogram;
  forEachBlock(planner_, from, to, [&](BlockPlan block) {
    if (forced != nullptr) block.method = *forced;
    // Told block by block, a tally goes through the block's own histogram.
    Output here = output;
    if (output.blockDone != nullptr && output.histogram != nullptr) {
      blockHistogram.clear();
      here.histogram = &blockHistogram;
    }
    runBlock(block, here, [&](double share) {
      if (!progress) return;
      if (byCost) {
        progress(total > 0 ? std::min(1.0, (doneBefore + share * block.cost) / total) : 1.0);
      } else {
        progress((static_cast<double>(block.first - from) +
                  share * static_cast<double>(block.last - block.first + 1)) /
                 width);
      }
    });
    if (here.histogram != output.histogram) output.histogram->add(blockHistogram);
    if (output.blockDone != nullptr)
      (*output.blockDone)(static_cast<Int64>(block.first), static_cast<Int64>(block.last),
                          output.histogram != nullptr ? &blockHistogram : nullptr);
    doneBefore += block.cost;
    return true;
  });
  sieve_.release();
}

// The blocks of [from, to], run by the runner; progress is told block by
// block, by the share of values done. Blocks for the inversion and the
// window walk are cut so that every rank gets several: their cost follows
// their width (each window piece walks the prefixes again, which the planner
// weighs when it plans the piece). A block for the sieve is cut only where its pieces,
// each planned on its own (the lowest sieved, the others walked as windows),
// cost less spread over the ranks than the whole block on one rank: a cut
// sieves again the candidates below each piece.
void DivisorArithmetic::walkElsewhere(std::uint64_t from, std::uint64_t to, const Output& output,
                                      const ProgressSink& progress) {
  const std::uint64_t ranks = runner_->parallelBlocks();
  const std::uint64_t width = to - from + 1;
  bool more = true;
  auto next = [&](BlockPlan& block) {
    if (!more) return false;
    block = planner_.plan(from, to);
    const std::uint64_t most =
        block.method == Method::Sieve ? sievePieces(block, ranks) : width / (8 * ranks) + 1;
    if (block.last - block.first >= most) block = planner_.plan(from, from + most - 1);
    more = block.last != to;
    from = block.last + 1;
    return true;
  };
  double done = 0;
  runner_->run(next, output.sink, output.histogram, [&](const BlockPlan& block, const CountHistogram* own) {
    done += static_cast<double>(block.last - block.first + 1);
    if (progress) progress(done / static_cast<double>(width));
    if (output.blockDone != nullptr)
      (*output.blockDone)(static_cast<Int64>(block.first), static_cast<Int64>(block.last), own);
  });
}

std::uint64_t DivisorArithmetic::sievePieces(const BlockPlan& block, std::uint64_t ranks) const {
  const std::uint64_t whole = block.last - block.first + 1;
  if (ranks < 2) return whole;
  const std::uint64_t most = (whole - 1) / (2 * ranks) + 1;
  double spread = 0;
  for (std::uint64_t start = 0; start < whole; start += most)
    spread += planner_.plan(block.first + start, block.first + std::min(whole - 1, start + most - 1)).cost;
  return spread / static_cast<double>(ranks) < block.cost ? most : whole;
}

void DivisorArithmetic::runPlannedBlock(const BlockPlan& block, const CountSink* sink,
                                        CountHistogram* histogram) {
  runBlock(block, {sink, histogram}, {});
}

void DivisorArithmetic::runBlock(const BlockPlan& block, const Output& output, const ProgressSink& done) {
  if (block.method == Method::Inversion) {
    invertBlock(block, output, done);
    return;
  }
  SumSource& sums = block.method == Method::Sieve ? static_cast<SumSource&>(candidates_) : window_;
  if (output.sink != nullptr) {
    sieve_.count(sums, block.first, block.last, block.countBits, *output.sink, done);
  } else {
    sieve_.tally(sums, block.first, block.last, block.countBits, *output.histogram, done);
  }
}

void DivisorArithmetic::invertBlock(const BlockPlan& block, const Output& output, const ProgressSink& done) {
  if (!factorizer_) factorizer_ = std::make_unique<Factorizer>(table_);
  if (!cubicSums_) cubicSums_ = std::make_unique<CubicSums>(table_);
  const std::uint64_t width = block.last - block.first + 1;
  std::vector<Count> out;
  std::vector<BlockFactorizer> factorizers(threads_, BlockFactorizer(*factorizer_));
  for (std::uint64_t start = 0; start < width; start += CensusPlanner::kInversionBlock) {
    const std::uint64_t size = std::min(CensusPlanner::kInversionBlock, width - start);
    const std::uint64_t first = block.first + start;
    out.assign(size, 0);
    // Each thread factors its share of the values by a sieve, then takes
    // values in small batches from wherever they are: their costs vary widely.
    constexpr std::uint64_t kBatch = 16;
    const std::uint64_t share = (size + threads_ - 1) / threads_;
    runParallel(threads_, [&](unsigned t) {
      const std::uint64_t from = std::min(size, t * share);
      factorizers[t].factor(first + from, std::min(size, from + share) - from);
    });
    std::atomic<std::uint64_t> next{0};
    runParallel(threads_, [&](unsigned) {
      SigmaInverse inverse(*factorizer_, *cubicSums_);
      for (std::uint64_t k = next.fetch_add(kBatch); k < size; k = next.fetch_add(kBatch)) {
        const std::uint64_t stop = std::min(size, k + kBatch);
        for (std::uint64_t j = k; j < stop; ++j) {
          const std::uint64_t owner = j / share;
          out[j] = inverse.count(first + j, factorizers[owner].factorsOf(j - owner * share));
        }
      }
    });
    if (output.sink != nullptr) {
      (*output.sink)(static_cast<Int64>(first), out);
    } else {
      for (const Count c : out) output.histogram->add(c);
    }
    if (done) done(static_cast<double>(start + size) / static_cast<double>(width));
  }
}

}  // namespace arith
