// Sums counted straight into a block's counts, without filing: the long
// intervals of primes whose multiplier sigma is small. Their sums sigma (p + 1)
// cover the whole block, a few hundred million of them high up, and filing
// each one costs a store into a batch, its read back and a byte's update
// far from the cache. Counted instead slab by slab of values, every interval's
// primes that land in one slab go to counts that stay in the cache: a
// division per interval and slab, then a bit scan and a byte's update.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

// One interval's primes that land on a slab: bits [fromBit, toBit] of its
// bitmap; fromBit > toBit when none do.
struct DenseVisit {
  const DenseSums::Interval* interval;
  std::uint64_t fromBit;
  std::uint64_t toBit;
};

// The bits of `interval` whose sums land on the values [least, most].
inline DenseVisit denseVisit(const DenseSums::Interval& interval, std::uint64_t least, std::uint64_t most) {
  const std::uint64_t sigma = interval.sigma;
  // p + 1 in [ceil(least / sigma), most / sigma].
  const std::uint64_t top = most / sigma;
  if (top < 2) return {&interval, 1, 0};
  const std::uint64_t lo = std::max(interval.low, (least - 1) / sigma);
  const std::uint64_t hi = std::min(interval.high, top - 1);
  if (lo > hi) return {&interval, 1, 0};
  // Both ends' bits: lo >= low >= firstOdd, so neither wraps.
  SIGMA_ASSERT(lo >= interval.firstOdd && interval.firstOdd % 2 == 1);
  return {&interval, (lo - interval.firstOdd + 1) / 2, (hi - interval.firstOdd) / 2};
}

// Counts the sums of `dense` that land on the values first + [from, to);
// the caller owns those values' regions. Each interval's bits lie in a place
// of their own in memory, far from the last one's (near 2^40, a thousand
// intervals a slab, most of them a word or two): the ranges of the next
// kAhead intervals are found first and their first lines fetched, then read.
template <class Counts>
void countDenseSlab(const DenseSums& dense, Counts& counts, std::uint64_t first, std::uint64_t from,
                    std::uint64_t to) {
  SIGMA_ASSERT(from < to && to <= counts.values());
  constexpr std::size_t kAhead = 16;
  std::array<DenseVisit, kAhead> visits{};
  const std::span<const DenseSums::Interval> intervals(dense.intervals);
  for (std::size_t at = 0; at < intervals.size(); at += kAhead) {
    std::size_t found = 0;
    for (const DenseSums::Interval& interval :
         intervals.subspan(at, std::min(kAhead, intervals.size() - at))) {
      const DenseVisit visit = denseVisit(interval, first + from, first + to - 1);
      if (visit.fromBit > visit.toBit) continue;
      __builtin_prefetch(interval.bits + visit.fromBit / 64);
      visits[found++] = visit;
    }
    for (const DenseVisit& visit : std::span(visits).first(found)) {
      const DenseSums::Interval& interval = *visit.interval;
      // The sum of bit i, as an offset in the block: sigma (firstOdd + 1 + 2i) - first
      // (the base wraps when below first; the offsets of the slab do not).
      const std::uint64_t base = interval.sigma * (interval.firstOdd + 1) - first;
      const std::uint64_t step = 2 * interval.sigma;
      const std::uint64_t weight = interval.weight;
      forEachSetBit(std::span<const std::uint64_t>(interval.bits, visit.toBit / 64 + 1), visit.fromBit,
                    visit.toBit, [&](std::uint64_t i) {
                      const std::uint64_t offset = base + step * i;
                      SIGMA_ASSERT(offset >= from && offset < to);
                      counts.bumpBy(offset, weight);
                    });
    }
  }
}

}  // namespace arith
