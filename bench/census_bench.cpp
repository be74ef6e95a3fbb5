// Wall time of whole censuses, the fast engine against the first one
// (each candidate factorized once by trial division), in one run.
#include <benchmark/benchmark.h>

#include <vector>

#include "arith/divisor_arithmetic.hpp"

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
  arith::DivisorEngine engine(table);
  std::vector<Count> counts;
  for (auto _ : state) {
    engine.tallyInterval(state.range(0), state.range(1), counts);
    benchmark::DoNotOptimize(counts.data());
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
BENCHMARK(firstEngine)->Args({1, 1000000})->Args({1, 10000000})->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
