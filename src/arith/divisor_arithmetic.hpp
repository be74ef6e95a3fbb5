// The divisor arithmetic subsystem: its prime table, its engines, and the one
// question the census asks of it, the counts of divisor sums over an interval.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "arith/census_planner.hpp"
#include "arith/divisor_engine.hpp"
#include "arith/factorizer.hpp"
#include "arith/prime_table.hpp"
#include "arith/sigma_inverse.hpp"
#include "common/widths.hpp"

namespace arith {

// Receives the counts of consecutive values, counts[k] for the value first + k.
using CountSink = std::function<void(common::Int64 first, std::span<const common::Count> counts)>;
// Receives the fraction of the work done, from 0 to 1.
using ProgressSink = std::function<void(double done)>;

class DivisorArithmetic {
 public:
  static constexpr std::uint64_t kBlockValues = std::uint64_t{1} << 30;

  // threads = 0: one per core. blockValues: the most values the sieve counts at once.
  explicit DivisorArithmetic(unsigned threads = 0, std::uint64_t blockValues = kBlockValues);

  // For every value N of [L1, L2] (1 <= L1 <= L2), how many m >= 1 have
  // sigma(m) == N: handed to `sink` in increasing order of N, in blocks.
  void countDivisorSums(common::Int64 L1, common::Int64 L2, const CountSink& sink,
                        const ProgressSink& progress = {});

  // The same with one method forced, for checking the methods against each other.
  void countWith(Method method, common::Int64 L1, common::Int64 L2, const CountSink& sink);

  DivisorEngine& engine() { return engine_; }
  const CensusPlanner& planner() const { return planner_; }

 private:
  void runBlock(const BlockPlan& block, const CountSink& sink, const std::function<void(double)>& done);
  void sieveBlock(const BlockPlan& block, const CountSink& sink, const std::function<void(double)>& done);
  void invertBlock(const BlockPlan& block, const CountSink& sink, const std::function<void(double)>& done);

  unsigned threads_;
  PrimeTable table_;
  DivisorEngine engine_;
  CensusPlanner planner_;
  std::unique_ptr<Factorizer> factorizer_;  // made on first use: they grow the table
  std::unique_ptr<CubicSums> cubicSums_;
};

}  // namespace arith
