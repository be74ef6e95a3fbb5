#include "arith/census_planner.hpp"

#include <algorithm>
#include <cmath>

#include "arith/sigma_sieve.hpp"

namespace arith {

namespace {

// Seconds of one core per unit of work, measured on the 2-core reference
// machine with bench/run.sh (see bench/README.md): the sieve per candidate,
// counting included, and per value handed to the census; the inversion per
// value, which grows with the size of the values (4 us near 2^27, 10 us near
// 2^40, 37 us near 2^63).
constexpr double kSievePerCandidate = 18e-9;
constexpr double kCountPerValue = 4e-9;
constexpr double kInversionPerValueAt27Bits = 4e-6;
constexpr double kInversionBitsPerDoubling = 10;

double robinBound(double m) {
  const double lnln = std::log(std::log(m));
  return 1.7810724179901979 * m * lnln + 0.6483 * m / lnln;  // e^gamma
}

}  // namespace

std::uint64_t lowestCandidate(std::uint64_t value) {
  // Below 64 the bound is of no use; and sigma(m) <= 12 for every m < 7, where
  // the bound is not monotonic.
  if (value <= 64) return 1;
  std::uint64_t lo = 7;
  std::uint64_t hi = value;  // robinBound(value) >= value
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (robinBound(static_cast<double>(mid)) >= static_cast<double>(value)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  // A margin for the rounding of the bound in double precision.
  const auto margin = static_cast<std::uint64_t>(static_cast<double>(lo) * 1e-9) + 2;
  return lo > margin ? lo - margin : 1;
}

CensusPlanner::CensusPlanner(unsigned threads, std::uint64_t blockValues) : threads_(std::max(1u, threads)) {
  // A value costs a byte of count, and a share of every thread's batches.
  const double perValue = 1.0 + static_cast<double>(threads_ * kBatch * sizeof(std::uint16_t)) /
                                    static_cast<double>(std::uint64_t{1} << kRegionBits);
  const auto affordable = static_cast<std::uint64_t>(static_cast<double>(kMemoryBudget) / perValue);
  blockValues_ = std::max<std::uint64_t>(1, std::min(blockValues, affordable));
}

double CensusPlanner::sieveCost(std::uint64_t first, std::uint64_t last) const {
  const double candidates = static_cast<double>(last - lowestCandidate(first)) + 1;
  return (candidates * kSievePerCandidate + static_cast<double>(last - first + 1) * kCountPerValue) /
         threads_;
}

double CensusPlanner::inversionCost(std::uint64_t first, std::uint64_t last) const {
  const double bits = std::log2(static_cast<double>(last) + 1);
  const double perValue =
      kInversionPerValueAt27Bits * std::exp2(std::max(0.0, bits - 27) / kInversionBitsPerDoubling);
  return static_cast<double>(last - first + 1) * perValue / threads_;
}

BlockPlan CensusPlanner::plan(std::uint64_t from, std::uint64_t to) const {
  BlockPlan block;
  block.first = from;
  block.last = to - from >= blockValues_ ? from + blockValues_ - 1 : to;
  block.cost = inversionCost(block.first, block.last);
  block.bytes = threads_ * (kInversionBlock * sizeof(std::uint64_t) + (std::uint64_t{1} << 20));
  if (block.last < SigmaSieve::kCeiling) {
    const double sieve = sieveCost(block.first, block.last);
    if (sieve < block.cost) {
      block.method = Method::Sieve;
      block.cost = sieve;
      block.lowestCandidate = lowestCandidate(block.first);
      // A byte per value, every thread's batches, and its sieve's segment.
      const std::uint64_t width = block.last - block.first + 1;
      const std::uint64_t regions = ((width - 1) >> kRegionBits) + 2;
      block.bytes = width + threads_ * (regions * kBatch * sizeof(std::uint16_t) +
                                        SigmaSieve::kSegment * 2 * sizeof(std::uint64_t));
    }
  }
  return block;
}

}  // namespace arith
