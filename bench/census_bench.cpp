// Wall time of whole censuses, the fast engine against the first one
// (each candidate factorized once by trial division), in one run.
#include <benchmark/benchmark.h>

#include <bit>
#include <vector>

#include "arith/blocks/block_counts.hpp"
#include "arith/blocks/dense_sums.hpp"
#include "arith/counts/count_histogram.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "arith/primes/prime_table.hpp"
#include "arith/primes/wide.hpp"
#include "arith/sieve/candidate_bounds.hpp"
#include "arith/sieve/sigma_sieve.hpp"
#include "arith/window/prime_segment.hpp"
#include "arith/window/span_prefixes.hpp"
#include "arith/window/window_sums.hpp"
#include "reference/divisor_engine.hpp"

namespace {

using common::Count;
using common::Int64;

void fastCensus(benchmark::State& state) {
  const Int64 L1 = state.range(0);
  const Int64 L2 = state.range(1);
  arith::DivisorArithmetic arithmetic;
  const auto plan = arithmetic.planner().plan(static_cast<std::uint64_t>(L1), static_cast<std::uint64_t>(L2));
  state.SetLabel(plan.method == arith::Method::Sieve ? "sieve" : "inversion");
  for (auto _ : state) {
    std::uint64_t total = 0;
    arithmetic.countDivisorSums(L1, L2, [&](Int64, std::span<const Count> counts) {
      for (Count c : counts) total += c;
    });
    benchmark::DoNotOptimize(total);
  }
}

void firstEngine(benchmark::State& state) {
  arith::PrimeTable table;
  reference::DivisorEngine engine(table);
  std::vector<Count> counts;
  for (auto _ : state) {
    engine.tallyInterval(state.range(0), state.range(1), counts);
    benchmark::DoNotOptimize(counts.data());
  }
}

// The candidates of the block [first, first + width) that lie below the
// point where every class is a candidate, sieved with the bounds by class
// (range 2 = 1) or all of them from Robin's bound on (0): what the bounds save.
void sieveBelowTheBounds(benchmark::State& state) {
  const auto first = static_cast<std::uint64_t>(state.range(0));
  const std::uint64_t last = first + static_cast<std::uint64_t>(state.range(1)) - 1;
  const bool pruned = state.range(2) != 0;
  arith::PrimeTable table;
  table.extendPast(static_cast<Int64>(arith::isqrt(last)) + 1);
  const arith::CandidateRange range = arith::candidatesFor(first, last);
  const std::uint64_t top = range.highestStart();
  arith::SigmaSieve sieve(table.primes());
  std::uint64_t sieved = 0;
  for (auto _ : state) {
    sieved = 0;
    std::uint64_t total = 0;
    auto run = [&](std::uint64_t lo, std::uint64_t residue, std::uint64_t step) {
      sieve.start(lo, top, residue, step);
      for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
        sieved += sums.size();
        total += sums[0];
      }
    };
    if (pruned) {
      for (std::uint64_t r = 0; r < 6; ++r) run(range.lowest[r], r, 6);
    } else {
      run(range.lowestOfAll(), 0, 1);
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["candidates"] = static_cast<double>(sieved);
  // The whole block's candidates, with the bounds and without.
  state.counters["block_pruned"] = range.size();
  state.counters["block_all"] = static_cast<double>(range.end - range.lowestOfAll());
}

// Sixteen segments of the long intervals' prime sieve in a row, from
// 2^range(0) on: nanoseconds a number, as the window walk sieves them.
void primeSegments(benchmark::State& state) {
  const std::uint64_t first = std::uint64_t{1} << state.range(0);
  constexpr std::uint64_t kRow = 16;
  const std::uint64_t last = first + kRow * arith::PrimeSegment::kSpan - 1;
  arith::PrimeTable table;
  table.extendPast(static_cast<Int64>(arith::isqrt(last)) + 1);
  arith::PrimeSegment segment;
  std::uint64_t primes = 0;
  for (auto _ : state) {
    primes = 0;
    for (std::uint64_t k = 0; k < kRow; ++k) {
      const std::uint64_t a = first + k * arith::PrimeSegment::kSpan;
      const std::uint64_t b = a + arith::PrimeSegment::kSpan - 1;
      if (k == 0) {
        segment.sieve(table.primes(), a, b);
      } else {
        segment.sieveNext(table.primes(), b);
      }
      for (const std::uint64_t word : segment.words())
        primes += static_cast<std::uint64_t>(std::popcount(word));
    }
    benchmark::DoNotOptimize(primes);
  }
  state.counters["primes"] = static_cast<double>(primes);
  state.counters["ns_per_number"] =
      benchmark::Counter(static_cast<double>(kRow * arith::PrimeSegment::kSpan),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The tally of a block's 8-bit counts into a histogram, the counts those of
// 2^24 values from 5 x 10^11 (most of them 0 to 3, as in a census high up).
void regionTally(benchmark::State& state) {
  constexpr std::uint64_t kValues = std::uint64_t{1} << 24;
  constexpr Int64 kFirst = 500000000000;
  std::vector<std::uint8_t> bytes(arith::BlockCounts<8>::bytesFor(kValues));
  arith::BlockCounts<8> counts(bytes.data(), kValues);
  arith::DivisorArithmetic arithmetic;
  arithmetic.countDivisorSums(kFirst, kFirst + static_cast<Int64>(kValues) - 1,
                              [&](Int64 first, std::span<const Count> part) {
                                for (std::size_t k = 0; k < part.size(); ++k) {
                                  if (part[k] > 0)
                                    counts.bumpBy(static_cast<std::uint64_t>(first - kFirst) + k, part[k]);
                                }
                              });
  for (auto _ : state) {
    arith::CountHistogram histogram;
    for (std::uint64_t r = 0; r < counts.regions(); ++r) counts.tallyRegion(r, histogram);
    benchmark::DoNotOptimize(histogram);
  }
  state.counters["ns_per_value"] =
      benchmark::Counter(static_cast<double>(kValues),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The dense sums of a block of 2^22 values just below 2^40 counted slab by
// slab, as a window block counts them: every distinct sigma(k) up to 2^12
// (weighted by its k), its primes in [first / sigma - 1, last / sigma - 1]
// from a sieved bitmap.
void denseSlabs(benchmark::State& state) {
  constexpr std::uint64_t kValues = arith::PrimeSegment::kSpan;
  constexpr std::uint64_t kFirst = (std::uint64_t{1} << 40) - kValues;
  constexpr std::uint64_t kSigmaMax = 4096;
  std::vector<std::uint64_t> weight(kSigmaMax + 1);
  for (std::uint64_t k = 1; k <= kSigmaMax; ++k) {
    std::uint64_t sigma = 0;
    for (std::uint64_t d = 1; d <= k; ++d) sigma += k % d == 0 ? d : 0;
    if (sigma <= kSigmaMax) ++weight[sigma];
  }
  arith::PrimeTable table;
  table.extendPast(static_cast<Int64>(arith::isqrt(kFirst + kValues)) + 2);
  arith::PrimeSegment segment;
  std::vector<std::vector<std::uint64_t>> bits;
  arith::DenseSums dense;
  for (std::uint64_t sigma = 1; sigma <= kSigmaMax; ++sigma) {
    if (weight[sigma] == 0) continue;
    const std::uint64_t low = ((kFirst - 1) / sigma) | 1;  // odd, at most p + 1 = first / sigma
    const std::uint64_t high = (kFirst + kValues - 1) / sigma - 1;
    segment.sieve(table.primes(), low, high);
    bits.emplace_back(segment.words().begin(), segment.words().end());
    dense.intervals.push_back({sigma, low, high, weight[sigma], bits.back().data(), low});
  }
  std::vector<std::uint8_t> bytes(arith::BlockCounts<8>::bytesFor(kValues));
  for (auto _ : state) {
    std::ranges::fill(bytes, 0);
    arith::BlockCounts<8> counts(bytes.data(), kValues);
    for (std::uint64_t from = 0; from < kValues; from += arith::kDenseSlabBytes) {
      const std::uint64_t to = std::min(kValues, from + arith::kDenseSlabBytes);
      counts.fetchValues(from, to);  // as the block's slab pass does
      arith::countDenseSlab(dense, counts, kFirst, from, to);
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["ns_per_value"] =
      benchmark::Counter(static_cast<double>(kValues),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The walk of a span's prefixes on one thread, as a span of blocks of 2^32
// values just below 2^range(0) walks them: every prefix visited, the sigma of
// the short intervals tallied, the others listed.
void spanWalk(benchmark::State& state) {
  const std::uint64_t last = std::uint64_t{1} << state.range(0);
  constexpr std::uint64_t kWidth = std::uint64_t{1} << 32;
  const std::uint64_t first = last - last / arith::WindowSums::kSpanShare;
  const std::uint64_t floor = kWidth / (arith::WindowSums::kLong - 1) + 1;
  arith::PrimeTable table;
  table.extendPast(static_cast<Int64>(arith::isqrt(last)) + 1);
  arith::SpanPrefixes span;
  for (auto _ : state) {
    span.begin(first, last, floor, 1, arith::WindowSums::spanTallyBytes(last, 1) / sizeof(std::uint64_t),
               arith::WindowSums::looseFor(kWidth));
    span.build(0, table.primes(), [](std::uint64_t) {});
    if (!span.built()) state.SkipWithError("the span ran out of room");
    benchmark::DoNotOptimize(span.loose(0).size());
  }
}

constexpr Int64 kTop = 9223372036854775807;

}  // namespace

BENCHMARK(fastCensus)
    ->Args({1, 1000000})
    ->Args({1, 10000000})
    ->Args({1, 100000000})
    ->Args({1, 1000000000})
    ->Args({1000000000000, 1000000010000})
    ->Args({kTop - 807, kTop})
    ->Args({4611686018427387904, 4611686018427397903})
    ->Args({1000000000000000, 1000000000010000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(sieveBelowTheBounds)
    ->Args({1000000000, 100000000, 0})
    ->Args({1000000000, 100000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(primeSegments)->Arg(34)->Arg(37)->Arg(40)->Arg(43)->Unit(benchmark::kMillisecond);
BENCHMARK(regionTally)->Unit(benchmark::kMillisecond);
BENCHMARK(denseSlabs)->Unit(benchmark::kMillisecond);
BENCHMARK(spanWalk)->Arg(40)->Arg(42)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(firstEngine)->Args({1, 1000000})->Args({1, 10000000})->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
