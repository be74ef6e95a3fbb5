#include "arith/plan/census_planner.hpp"

#include <algorithm>
#include <cmath>

#include "arith/blocks/block_counter.hpp"
#include "arith/inversion/block_inverter.hpp"
#include "arith/sieve/candidate_bounds.hpp"
#include "arith/sieve/sigma_sieve.hpp"
#include "arith/window/window_sums.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

// Seconds of work per unit, in the program's own thread-seconds (wall time
// times threads, measured on the 2-core reference machine with
// bench/method_map and bench/block_pace, see bench/README.md), so that the
// plan's sum is the run's wall time. The sieve: per candidate, filing and
// counting included, and per value of the block (clearing, handing over).
constexpr double kSievePerCandidate = 12.6e-9;
// Past kNarrowBlock values, the sieve's cost per candidate grows by this share
// per doubling of the block (13 ns on [1, 10^9], 27 ns on [1, 10^10], one
// block each): its counts leave the caches and the TLB, and come as fresh pages.
constexpr double kSieveGrowthPerDoubling = 0.3;
// The share of that cost left when the candidates start low and only the
// numbers prime to 6 are sieved (2.3 s of CPU against 1.6 s on [1, 2e8]).
constexpr double kFromCofactors = 0.7;
constexpr double kCountPerValue = 1.4e-9;
// The inversion per value doubles every 13.5 bits up to about 2^50 (0.64 us
// near 10^6, 1.02 near 10^9, 1.76 near 10^12, 2.94 near 10^15), then every
// 7.6 bits (8.6 us near 2^62), as the values' factors need Pollard's rho.
constexpr double kInversionPerValueAt40Bits = 1.76e-6;
constexpr double kInversionBitsPerDoubling = 13.5;
constexpr double kInversionPerValueAt62Bits = 8.6e-6;
constexpr double kInversionHighBitsPerDoubling = 7.6;
// The walk by largest prime factor: per prefix walked, about 18 ns whatever
// the height (windows of 10^4 values near 10^10, 10^11 and 10^12, where the
// prefixes are nearly all the cost); each prefix's short interval, read alone
// where the block has no room to gather it, up to 16 ns more, reached from
// 2^27 values on (10^8 values near 10^12: 4.4 thread-seconds, against 2.0
// for 10^4); and per value 2.9 ns (runs of 2^33 and 2^34 values from 1 and
// just below 2^36 and 2^38, within a tenth; 4.5 ns before the filing by
// slab, the huge pages and the tally's vectors took a third off).
constexpr double kWindowPerPrefix = 18e-9;
constexpr double kWindowPerShortInterval = 16e-9;
constexpr double kWindowShortIntervalsFull = 134217728;  // 2^27 values
constexpr double kWindowPerValue = 2.9e-9;
// A span of window blocks (span_prefixes.hpp): its walk, per prefix up to
// the span's end, done by its first block, about 20 ns near 2^40 and 23 ns
// near 2^44 (its tally leaves the caches as the distinct sigma grow); then
// each of its blocks, per prefix (what it walks again) and per value (the
// sums, the tally's among them): the blocks of the top sixteenths of 2^40
// and 2^44 measured one by one with bench/plan_cost (5.2 and 6.4 s for
// blocks of 4.5 and 3.6 x 10^9 values, after the sieve on a wheel of 30),
// the walk from the first block's time less a block's and its fresh pages.
constexpr double kSpanWalkPerPrefixAt40Bits = 20e-9;
constexpr double kSpanWalkGrowth = 0.05;  // the exponent of its growth with the height
constexpr double kSpanReadPerPrefix = 4.7e-9;
constexpr double kSpanReadPerValue = 2.2e-9;
// The kernel's clearing of fresh pages: 2.1 to 2.5 thread-seconds a GiB (a
// first window block of 2^32 values alone against one inside a run, near 2^36
// and 2^40).
constexpr double kFreshPagesPerByte = 2.3 / (1024.0 * 1024 * 1024);
// The prefixes up to x: 4.08e6 up to 10^10, and 5.5 times as many per decade
// (7.7e5, 2.2e7, 1.2e8 and 6.8e8 up to 10^9, 10^11, 10^12 and 10^13).
constexpr double kPrefixesAt10Digits = 4.08e6;
constexpr double kPrefixExponent = 0.742;

}  // namespace

CensusPlanner::CensusPlanner(unsigned threads, std::uint64_t memoryBudget) : threads_(std::max(1u, threads)) {
  setMemoryBudget(memoryBudget);
}

namespace {

// The memory of a block of `values` values counted in `bits` bits: a window
// block keeps the bits of its primes and its gathered prefixes too.
std::uint64_t blockBytes(std::uint64_t values, unsigned threads, unsigned bits, Method method) {
  return BlockCounter::bytesFor(values, threads, bits) +
         (method == Method::Window ? WindowSums::keptBytesFor(values) : 0);
}

// The largest block whose memory fits `bytes` with counts of `bits` bits.
std::uint64_t largestBlock(std::uint64_t bytes, unsigned threads, unsigned bits, Method method) {
  std::uint64_t lo = CensusPlanner::kSmallestBlock;
  std::uint64_t hi = std::uint64_t{1} << 62;
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo + 1) / 2;
    if (blockBytes(mid, threads, bits, method) <= bytes) {
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
  blockValues_ = largestBlock(bytes, threads_, 4, Method::Sieve);
  byteValues_ = largestBlock(bytes, threads_, 8, Method::Sieve);
  windowValues_ = largestBlock(bytes, threads_, 4, Method::Window);
  windowByteValues_ = largestBlock(bytes, threads_, 8, Method::Window);
}

double CensusPlanner::sieveCost(std::uint64_t first, std::uint64_t last) const {
  const CandidateRange range = candidatesFor(first, last);
  const double candidates = range.size() * (range.startsLow() ? kFromCofactors : 1.0);
  const double width = static_cast<double>(last - first) + 1;
  const double growth =
      1 + kSieveGrowthPerDoubling * std::max(0.0, std::log2(width / static_cast<double>(kNarrowBlock)));
  return (candidates * kSievePerCandidate * growth + width * kCountPerValue) / threads_;
}

double CensusPlanner::inversionCost(std::uint64_t first, std::uint64_t last) const {
  const double bits = std::log2(static_cast<double>(last) + 1);
  const double perValue =
      std::max(kInversionPerValueAt40Bits * std::exp2((bits - 40) / kInversionBitsPerDoubling),
               kInversionPerValueAt62Bits * std::exp2((bits - 62) / kInversionHighBitsPerDoubling));
  return static_cast<double>(last - first + 1) * perValue / threads_;
}

namespace {

double prefixesUpTo(std::uint64_t last) {
  return kPrefixesAt10Digits * std::pow(static_cast<double>(last) / 1e10, kPrefixExponent);
}

}  // namespace

double CensusPlanner::windowCost(std::uint64_t first, std::uint64_t last, double walkShare) const {
  const double width = static_cast<double>(last - first) + 1;
  const double prefixes = prefixesUpTo(last);
  const double perPrefix = kWindowPerPrefix * walkShare +
                           kWindowPerShortInterval * std::min(1.0, width / kWindowShortIntervalsFull);
  return (prefixes * perPrefix + width * kWindowPerValue) / threads_;
}

std::uint64_t CensusPlanner::spanTallyBytes(std::uint64_t to) const {
  const std::uint64_t bytes = WindowSums::spanTallyBytes(to, threads_);
  return bytes <= budget_ / 4 ? bytes : 0;
}

std::uint64_t CensusPlanner::lowPrimesBytes(std::uint64_t first, std::uint64_t to) const {
  return std::min(WindowSums::lowPrimesBytesFor(first, to), budget_ / 8);
}

CensusPlanner::WindowWidths CensusPlanner::windowWidths(std::uint64_t keptBytes) const {
  if (keptBytes == 0) return {windowValues_, windowByteValues_};
  return {largestBlock(budget_ - keptBytes, threads_, 4, Method::Window),
          largestBlock(budget_ - keptBytes, threads_, 8, Method::Window)};
}

// A span reaches a kSpanShare-th of its first value above it, and holds two
// blocks at least; each of its blocks still walks the prefixes that a prime
// square can follow, reads the span's tally and its loose prefixes: about a
// tenth of the walk (near 2^40 and 2^44).
double CensusPlanner::walkShare(std::uint64_t from, std::uint64_t last, std::uint64_t to,
                                std::uint64_t runFirst, std::uint64_t tallyBytes) {
  constexpr double kSpanResidual = 0.1;
  const double width = static_cast<double>(last - from) + 1;
  const double span = std::min(static_cast<double>(to - runFirst) + 1,
                               static_cast<double>(from) / WindowSums::kSpanShare + 1);
  if (tallyBytes == 0 || span < 2 * width) return 1;
  return std::min(1.0, width / span + kSpanResidual);
}

void CensusPlanner::chargeSpan(BlockPlan& block, std::uint64_t to, std::uint64_t& spanLast) const {
  if (block.method != Method::Window || spanTallyBytes(to) == 0) return;
  const double width = static_cast<double>(block.last - block.first) + 1;
  const double read = (prefixesUpTo(block.last) * kSpanReadPerPrefix + width * kSpanReadPerValue) / threads_;
  if (block.last <= spanLast) {
    block.cost = read;
    return;
  }
  const std::uint64_t reach = WindowSums::spanLastFor(block.first, block.last, to);
  if (reach == 0) {
    block.cost = windowCost(block.first, block.last);
    return;
  }
  spanLast = reach;
  const double perPrefix =
      kSpanWalkPerPrefixAt40Bits * std::pow(static_cast<double>(reach) / 0x1p40, kSpanWalkGrowth);
  const double walk = prefixesUpTo(reach) * perPrefix / threads_;
  block.cost = read + walk;
  block.prepared = walk / block.cost;
}

double CensusPlanner::freshPagesCost(const BlockPlan& first) const {
  if (first.last - first.first < kNarrowBlock) return 0;
  return static_cast<double>(first.bytes) * kFreshPagesPerByte / threads_;
}

double CensusPlanner::wideWindowPagesCost(std::uint64_t values) const {
  return static_cast<double>(blockBytes(values, threads_, 8, Method::Window)) * kFreshPagesPerByte / threads_;
}

// Each window block walks the prefixes again, or its share of a span's walk:
// high up, a wider block spreads them over more values (12 % less CPU for 2^32
// values near 2^40 than for four blocks of 2^30). In 8-bit counts only: past
// 15 the 4-bit fields send most sums to the side tables. Its fresh pages come
// once per calculation (about 2.3 thread-seconds a GiB here), so wide blocks
// are at most an eighth of it, and its last blocks stay wide, the memory
// being held.
template <class Consider>
void CensusPlanner::considerWindow(const Consider& consider, std::uint64_t from, std::uint64_t to,
                                   std::uint64_t runFirst, std::uint64_t narrow, std::uint64_t tally,
                                   const WindowWidths& window) const {
  const std::uint64_t windowWidest = to - from >= window.values ? from + window.values - 1 : to;
  if (windowWidest > WindowSums::kCeiling) return;
  const auto cost = [&](std::uint64_t last) {
    return windowCost(from, last, walkShare(from, last, to, runFirst, tally));
  };
  const std::uint64_t windowNarrow = std::min(narrow, windowWidest);
  consider(Method::Window, windowNarrow, cost(windowNarrow));
  const std::uint64_t wideValues = std::min(window.byteValues, (to - runFirst) / kWideWindowRun + 1);
  const std::uint64_t bytewide = windowWidest - from >= wideValues ? from + wideValues - 1 : windowWidest;
  if (bytewide > windowNarrow)
    consider(Method::Window, bytewide, cost(bytewide), wideWindowPagesCost(bytewide - from + 1));
}

BlockPlan CensusPlanner::plan(std::uint64_t from, std::uint64_t to, std::uint64_t runFirst) const {
  if (runFirst == 0) runFirst = from;
  SIGMA_ASSERT(1 <= runFirst && runFirst <= from && from <= to);
  // The widest block the memory allows, and a narrow one: the methods'
  // blocks may differ in width, so they are compared by cost per value.
  const std::uint64_t widest = to - from >= blockValues_ ? from + blockValues_ - 1 : to;
  const std::uint64_t narrow = widest - from >= kNarrowBlock ? from + kNarrowBlock - 1 : widest;
  BlockPlan block;
  block.first = from;
  block.last = widest;
  block.cost = inversionCost(from, widest);
  block.bytes = threads_ * (BlockInverter::kBatch * sizeof(std::uint64_t) + (std::uint64_t{1} << 20));
  const std::uint64_t tally = spanTallyBytes(to);
  const WindowWidths window = windowWidths(tally + lowPrimesBytes(runFirst, to));
  // `once`: seconds the calculation pays once if it takes such blocks, spread
  // over all its values for the choice.
  auto consider = [&](Method method, std::uint64_t last, double cost, double once = 0) {
    const auto perValue = [](double seconds, std::uint64_t a, std::uint64_t b) {
      return seconds / (static_cast<double>(b - a) + 1);
    };
    if (perValue(cost, from, last) + perValue(once, runFirst, to) >=
        perValue(block.cost, block.first, block.last))
      return;
    block.last = last;
    block.method = method;
    block.cost = cost;
    const std::uint64_t width = last - from + 1;
    block.countBits = width <= (method == Method::Window ? window.byteValues : byteValues_) ? 8 : 4;
    block.bytes = blockBytes(width, threads_, block.countBits, method);
  };
  if (widest < SigmaSieve::kCeiling) {
    consider(Method::Sieve, widest, sieveCost(from, widest));
    if (narrow != widest) consider(Method::Sieve, narrow, sieveCost(from, narrow));
  }
  considerWindow(consider, from, to, runFirst, narrow, tally, window);
  return block;
}

}  // namespace arith
