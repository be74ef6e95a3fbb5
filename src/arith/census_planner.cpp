#include "arith/census_planner.hpp"

#include <algorithm>
#include <cmath>

#include "arith/sieve/block_sieve.hpp"
#include "arith/sieve/candidate_bounds.hpp"
#include "arith/sieve/sigma_sieve.hpp"

namespace arith {

namespace {

// Seconds of one core per unit of work, measured on the 2-core reference
// machine with bench/run.sh (see bench/README.md): the sieve per candidate,
// filing and counting included (13 ns on [1, 2e8], 20 ns on [1, 10^9]), and
// per value of the block (clearing, handing over); the inversion per value,
// which grows with the size of the values (2.1 us near 2^40, 4.8 us near
// 2^50, 16 us near 2^62).
constexpr double kSievePerCandidate = 18e-9;
constexpr double kCountPerValue = 2e-9;
constexpr double kInversionPerValueAt27Bits = 0.65e-6;
constexpr double kInversionBitsPerDoubling = 7.5;

}  // namespace

CensusPlanner::CensusPlanner(unsigned threads, std::uint64_t memoryBudget) : threads_(std::max(1u, threads)) {
  setMemoryBudget(memoryBudget);
}

namespace {

// The largest block whose memory fits `bytes` with counts of `bits` bits.
std::uint64_t largestBlock(std::uint64_t bytes, unsigned threads, unsigned bits) {
  std::uint64_t lo = CensusPlanner::kSmallestBlock;
  std::uint64_t hi = std::uint64_t{1} << 62;
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo + 1) / 2;
    if (BlockSieve::bytesFor(mid, threads, bits) <= bytes) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

}  // namespace

void CensusPlanner::setMemoryBudget(std::uint64_t bytes) {
  budget_ = bytes;
  blockValues_ = largestBlock(bytes, threads_, 4);
  byteValues_ = largestBlock(bytes, threads_, 8);
}

double CensusPlanner::sieveCost(std::uint64_t first, std::uint64_t last) const {
  const double candidates = candidatesFor(first, last).size();
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
      const std::uint64_t width = block.last - block.first + 1;
      block.countBits = width <= byteValues_ ? 8 : 4;
      block.bytes = BlockSieve::bytesFor(width, threads_, block.countBits);
    }
  }
  return block;
}

}  // namespace arith
