// The divisor arithmetic subsystem: the questions the census asks of it, the
// counts of divisor sums over an interval, value by value or as a histogram.
// How they are computed (the methods, their threads, blocks and ranks) stays
// behind this object: its methods live in arith/'s folders, held here only
// through `Methods`, so that a user of this header compiles against none of them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "arith/block_runner.hpp"
#include "arith/counts/block_sample.hpp"
#include "arith/counts/count_histogram.hpp"
#include "arith/counts/sinks.hpp"
#include "arith/inversion/preimage_walk.hpp"
#include "arith/plan/census_planner.hpp"
#include "common/widths.hpp"

namespace arith {

class DivisorArithmetic {
 public:
  // threads = 0: one per core. Each calculation takes a share of the memory
  // the machine has free when it starts (see plan/memory_budget.hpp), divided
  // among the `sharing` processes that run on the machine, and no more than
  // `budgetCap` bytes where that is not 0.
  explicit DivisorArithmetic(unsigned threads = 0, std::uint64_t budgetCap = 0, unsigned sharing = 1);
  ~DivisorArithmetic();
  DivisorArithmetic(const DivisorArithmetic&) = delete;
  DivisorArithmetic& operator=(const DivisorArithmetic&) = delete;

  // The bytes a calculation started now may take. Throws MemoryShortage when
  // the control group leaves too little for any calculation.
  std::uint64_t memoryBudget() const;

  // For every value N of [L1, L2] (1 <= L1 <= L2), how many m >= 1 have
  // sigma(m) == N: handed to `sink` in increasing order of N, in blocks.
  // `blockDone` is told of each block once its counts are all handed over.
  void countDivisorSums(common::Int64 L1, common::Int64 L2, const CountSink& sink,
                        const ProgressSink& progress = {}, const BlockDoneSink& blockDone = {});
  // The same counts, tallied: histogram[n] gains the number of values of
  // [L1, L2] with count n. `blockDone` is told of each block, with its own histogram.
  void tallyDivisorSums(common::Int64 L1, common::Int64 L2, CountHistogram& histogram,
                        const ProgressSink& progress = {}, const BlockDoneSink& blockDone = {});

  // One value N (1 <= N <= 2^63 - 1): how many m have sigma(m) == N, and
  // every such m, in batches and in no particular order, to `sink` (which
  // returns false to stop); returns how many were handed over.
  common::Count countOne(common::Int64 N);
  common::Count preimages(common::Int64 N, const PreimageSink& sink);

  // The plan's estimate of the seconds [L1, L2] takes; 0 when it has too many blocks to tell.
  double plannedSeconds(common::Int64 L1, common::Int64 L2);

  // The same counts with one method forced, for checking the methods against each other.
  void countWith(Method method, common::Int64 L1, common::Int64 L2, const CountSink& sink);
  void tallyWith(Method method, common::Int64 L1, common::Int64 L2, CountHistogram& histogram);

  // From now on every block's counts of a sample of its values are counted
  // again by the inversion (see check/double_check.hpp) before the block is
  // handed over; a difference throws DoubleCheckFailure.
  void setDoubleCheck(bool on) { doubleCheck_ = on; }

  // From now on every calculation is abandoned with CalculationStopped,
  // within moments, once `*stop` is true (nullptr: never).
  void setStopFlag(StopFlag stop);

  // From now on the blocks run there (nullptr: here).
  void setBlockRunner(BlockRunner* runner) { runner_ = runner; }
  // One planned block, here: its counts to `sink` in order, or its histogram
  // added to `histogram`; the counts of `sample`'s values kept in it (when not nullptr).
  void runPlannedBlock(const BlockPlan& block, const CountSink* sink, CountHistogram* histogram,
                       BlockSample* sample = nullptr);
  // The double check's second count of a block's sample, here.
  std::vector<common::Count> recountSample(const BlockPlan& block, const BlockSample& sample);

  const CensusPlanner& planner() const { return planner_; }

 private:
  struct Methods;
  // Where a block's counts go: to a sink in order, or into a histogram; and who is told of it.
  struct BlockOutput {
    const CountSink* sink = nullptr;
    CountHistogram* histogram = nullptr;
    const BlockDoneSink* blockDone = nullptr;
  };
  void runInterval(common::Int64 L1, common::Int64 L2, const BlockOutput& output,
                   const ProgressSink& progress, const Method* forced);
  void runHere(std::uint64_t from, std::uint64_t to, const BlockOutput& output, const ProgressSink& progress,
               const Method* forced);
  void runOnRunner(std::uint64_t from, std::uint64_t to, const BlockOutput& output,
                   const ProgressSink& progress);
  void runTold(const BlockPlan& block, const BlockOutput& output, const ProgressSink& done);
  double plannedCost(std::uint64_t from, std::uint64_t to) const;
  std::uint64_t sievePieceWidth(const BlockPlan& block, std::uint64_t ranks) const;
  void runBlock(const BlockPlan& block, const BlockOutput& output, const ProgressSink& done,
                BlockSample* sample = nullptr);
  void runChecked(const BlockPlan& block, const BlockOutput& output, const ProgressSink& done);

  unsigned threads_;
  std::uint64_t budgetCap_;
  unsigned sharing_;
  bool doubleCheck_ = false;
  BlockRunner* runner_ = nullptr;
  CensusPlanner planner_;
  std::unique_ptr<Methods> methods_;
};

}  // namespace arith
