// Sums counted straight into a block's counts, without filing: the long
// intervals of primes whose multiplier sigma is small. Their sums sigma (p + 1)
// cover the whole block, a few hundred million of them high up, and filing
// each one costs a store into a batch, its read back and a byte's update
// far from the cache. Counted instead slab by slab of values, every interval's
// primes that land in one slab go to counts that stay in the cache: a
// division per interval and slab, then its set bits listed and a byte's
// update each.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

// Counts the sums of one interval's bits [fromBit, toBit], which land on the
// values first + [from, to). The set bits are listed first, eight places a
// word whatever it holds (near 2^40 a word has five or so; the rare ones
// past eight follow), then counted a batch at a time: a loop over each
// word's bits ended on a wrong guess nearly every word.
template <class Counts>
void countDenseVisit(const DenseVisit& visit, Counts& counts, std::uint64_t first,
                     [[maybe_unused]] std::uint64_t from, [[maybe_unused]] std::uint64_t to) {
  const DenseSums::Interval& interval = *visit.interval;
  const std::uint64_t firstWord = visit.fromBit / 64;
  const std::uint64_t lastWord = visit.toBit / 64;
  SIGMA_ASSERT(64 * (lastWord - firstWord + 1) <= UINT32_MAX);  // a bit's place fits 32 bits
  // The sum of bit i, as an offset in the block: sigma (firstOdd + 1 + 2i) - first
  // (the base wraps when below first; the offsets of the slab do not), here
  // from the first word's first bit.
  const std::uint64_t step = 2 * interval.sigma;
  const std::uint64_t base = interval.sigma * (interval.firstOdd + 1) - first + step * 64 * firstWord;
  const std::uint64_t weight = interval.weight;
  constexpr std::size_t kBatch = 512;
  std::array<std::uint32_t, kBatch + 64> bits;
  std::size_t listed = 0;
  const auto countListed = [&] {
    for (const std::uint32_t i : std::span(bits).first(listed)) {
      const std::uint64_t offset = base + step * i;
      SIGMA_ASSERT(offset >= from && offset < to);
      counts.bumpBy(offset, weight);
    }
    listed = 0;
  };
  constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
  for (std::uint64_t w = firstWord; w <= lastWord; ++w) {
    std::uint64_t word = interval.bits[w];
    if (w == firstWord) word &= ~std::uint64_t{0} << (visit.fromBit % 64);
    if (w == lastWord && visit.toBit % 64 != 63) word &= (std::uint64_t{1} << (visit.toBit % 64 + 1)) - 1;
    const auto at = static_cast<std::uint32_t>(64 * (w - firstWord));
    // A place past the word's last set bit is written, not counted (the top
    // bit keeps the scan defined).
    for (std::size_t k = 0; k < 8; ++k, word &= word - 1) {
      bits[listed] = at + static_cast<std::uint32_t>(std::countr_zero(word | kTopBit));
      listed += word != 0 ? 1 : 0;
    }
    for (; word != 0; word &= word - 1)
      bits[listed++] = at + static_cast<std::uint32_t>(std::countr_zero(word));
    if (listed >= kBatch) countListed();
  }
  countListed();
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
    for (const DenseVisit& visit : std::span(visits).first(found))
      countDenseVisit(visit, counts, first, from, to);
  }
}

}  // namespace arith
