// Sums counted straight into a block's counts, without filing: the long
// intervals of primes whose multiplier sigma is small. Their sums sigma (p + 1)
// cover the whole block, a few hundred million of them high up, and filing
// each one costs a store into a batch, its read back and a byte's update
// far from the cache. Counted instead slab by slab of values, every interval's
// primes that land in one slab go to counts that stay in the cache: a
// division per interval and slab, then a bit scan and a byte's update.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "arith/primes/bit_scan.hpp"
#include "common/check.hpp"

namespace arith {

struct DenseSums {
  // The odd primes p of [low, high], low odd and at least 3, each giving the sum
  // sigma (p + 1) `weight` times; bit i of `bits` tells whether firstOdd + 2i
  // is prime, for every odd number of [low, high].
  struct Interval {
    std::uint64_t sigma;
    std::uint64_t low;
    std::uint64_t high;
    std::uint64_t weight;
    const std::uint64_t* bits;
    std::uint64_t firstOdd;
  };
  std::vector<Interval> intervals;
};

// Values counted at once: their counts stay in a core's cache.
inline constexpr std::uint64_t kDenseSlabBytes = std::uint64_t{1} << 19;

// Counts the sums of `dense` that land on the values first + [from, to);
// the caller owns those values' regions.
template <class Counts>
void countDenseSlab(const DenseSums& dense, Counts& counts, std::uint64_t first, std::uint64_t from,
                    std::uint64_t to) {
  SIGMA_ASSERT(from < to && to <= counts.values());
  const std::uint64_t least = first + from;  // the slab's values
  const std::uint64_t most = first + to - 1;
  for (const DenseSums::Interval& interval : dense.intervals) {
    const std::uint64_t sigma = interval.sigma;
    // p + 1 in [ceil(least / sigma), most / sigma].
    const std::uint64_t top = most / sigma;
    if (top < 2) continue;
    const std::uint64_t lo = std::max(interval.low, (least - 1) / sigma);
    const std::uint64_t hi = std::min(interval.high, top - 1);
    if (lo > hi) continue;
    // Both ends' bits, below: lo >= low >= firstOdd, so neither wraps.
    SIGMA_ASSERT(lo >= interval.firstOdd && interval.firstOdd % 2 == 1);
    // The sum of bit i, as an offset in the block: sigma (firstOdd + 1 + 2i) - first
    // (the base wraps when below first; the offsets of the slab do not).
    const std::uint64_t base = sigma * (interval.firstOdd + 1) - first;
    const std::uint64_t step = 2 * sigma;
    const std::uint64_t weight = interval.weight;
    const std::uint64_t toBit = (hi - interval.firstOdd) / 2;
    forEachSetBit(std::span<const std::uint64_t>(interval.bits, toBit / 64 + 1),
                  (lo - interval.firstOdd + 1) / 2, toBit, [&](std::uint64_t i) {
                    const std::uint64_t offset = base + step * i;
                    SIGMA_ASSERT(offset >= from && offset < to);
                    counts.bumpBy(offset, weight);
                  });
  }
}

}  // namespace arith
