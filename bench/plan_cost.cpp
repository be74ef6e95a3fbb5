// The planner's blocks of [L1, L2] summed by method: how many, how many
// values, and the seconds it expects, to set beside a measured run.
// Usage: plan_cost L1 L2 THREADS MEMORY_BYTES [blocks | run]
//   blocks: each block too, with its planned seconds;
//   run:    the census of [L1, L2] run in one calculation with that memory
//           cap, each block's planned and measured wall seconds side by side.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "arith/divisor_arithmetic.hpp"

namespace {

const char* const kNames[] = {"sieve", "inversion", "window"};

void printBlock(const arith::BlockPlan& block) {
  std::printf("%-9s [%llu, %llu] %llu values, %u-bit counts, %.0f MiB, %.2f s",
              kNames[static_cast<int>(block.method)], static_cast<unsigned long long>(block.first),
              static_cast<unsigned long long>(block.last),
              static_cast<unsigned long long>(block.last - block.first + 1), block.countBits,
              static_cast<double>(block.bytes) / (1 << 20), block.cost);
  if (block.prepared > 0) std::printf(" (a span's walk: %.0f %%)", 100 * block.prepared);
}

// Runs the calculation and prints each planned block beside its wall time.
void runBlocks(arith::DivisorArithmetic& arithmetic, const std::vector<arith::BlockPlan>& plan) {
  using Clock = std::chrono::steady_clock;
  auto since = Clock::now();
  const auto start = since;
  std::size_t next = 0;
  arith::CountHistogram histogram;
  arithmetic.tallyDivisorSums(
      static_cast<common::Int64>(plan.front().first), static_cast<common::Int64>(plan.back().last), histogram,
      {}, [&](common::Int64 first, common::Int64 last, const arith::CountHistogram*) {
        const auto now = Clock::now();
        const double wall = std::chrono::duration<double>(now - since).count();
        since = now;
        const bool planned = next < plan.size() && plan[next].first == static_cast<std::uint64_t>(first) &&
                             plan[next].last == static_cast<std::uint64_t>(last);
        if (planned) {
          printBlock(plan[next++]);
        } else {
          std::printf("unplanned [%lld, %lld]", static_cast<long long>(first), static_cast<long long>(last));
        }
        std::printf(", measured %.2f s\n", wall);
        std::fflush(stdout);
      });
  std::printf("measured  %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
}

}  // namespace

int main(int argc, char** argv) {
  const bool each = argc == 6 && std::strcmp(argv[5], "blocks") == 0;
  const bool run = argc == 6 && std::strcmp(argv[5], "run") == 0;
  if (argc != 5 && !each && !run) {
    std::fprintf(stderr, "usage: plan_cost L1 L2 THREADS MEMORY_BYTES [blocks | run]\n");
    return 64;
  }
  const std::uint64_t first = std::strtoull(argv[1], nullptr, 0);
  const std::uint64_t last = std::strtoull(argv[2], nullptr, 0);
  const auto threads = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
  const std::uint64_t memory = std::strtoull(argv[4], nullptr, 0);
  if (first < 1 || last < first || last > static_cast<std::uint64_t>(common::kLargestBound) || threads == 0 ||
      memory == 0) {
    std::fprintf(stderr, "plan_cost: 1 <= L1 <= L2 < 2^63, THREADS and MEMORY_BYTES above 0\n");
    return 64;
  }
  arith::DivisorArithmetic arithmetic(threads, memory);
  const arith::CensusPlanner& planner = arithmetic.planner();
  struct Sum {
    std::uint64_t blocks = 0;
    double values = 0;
    double seconds = 0;
    std::uint64_t widest = 0;
  } sums[3];
  double total = 0;
  std::vector<arith::BlockPlan> plan;
  planner.forEachBlock(first, last, [&](const arith::BlockPlan& block) {
    if (each) {
      printBlock(block);
      std::printf("\n");
    }
    if (run) plan.push_back(block);
    Sum& sum = sums[static_cast<int>(block.method)];
    ++sum.blocks;
    sum.values += static_cast<double>(block.last - block.first) + 1;
    sum.seconds += block.cost;
    if (block.last - block.first + 1 > sum.widest) sum.widest = block.last - block.first + 1;
    total += block.cost;
    return true;
  });
  for (int m = 0; m < 3; ++m) {
    if (sums[m].blocks == 0) continue;
    std::printf("%-9s %8llu blocks %.4g values (widest %llu) %.1f s\n", kNames[m],
                static_cast<unsigned long long>(sums[m].blocks), sums[m].values,
                static_cast<unsigned long long>(sums[m].widest), sums[m].seconds);
  }
  std::printf("planned   %.1f s\n", total);
  if (run) runBlocks(arithmetic, plan);
  return 0;
}
