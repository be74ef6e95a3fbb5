// The planner's blocks of [L1, L2] summed by method: how many, how many
// values, and the seconds it expects, to set beside a measured run.
// Usage: plan_cost L1 L2 THREADS MEMORY_BYTES [blocks]  (blocks: each block too)
#include <cstdio>
#include <cstdlib>

#include "arith/plan/census_planner.hpp"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: plan_cost L1 L2 THREADS MEMORY_BYTES [blocks]\n");
    return 64;
  }
  const std::uint64_t first = std::strtoull(argv[1], nullptr, 0);
  const std::uint64_t last = std::strtoull(argv[2], nullptr, 0);
  const auto threads = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
  const std::uint64_t memory = std::strtoull(argv[4], nullptr, 0);
  if (first < 1 || last < first || threads == 0 || memory == 0) {
    std::fprintf(stderr, "plan_cost: 1 <= L1 <= L2, THREADS and MEMORY_BYTES above 0\n");
    return 64;
  }
  const arith::CensusPlanner planner(threads, memory);
  const char* names[] = {"sieve", "inversion", "window"};
  struct Sum {
    std::uint64_t blocks = 0;
    double values = 0;
    double seconds = 0;
    std::uint64_t widest = 0;
  } sums[3];
  double total = 0;
  for (std::uint64_t from = first;;) {
    arith::BlockPlan block = planner.plan(from, last, first);
    if (from == first) block.cost += planner.freshPagesCost(block);
    if (argc == 6)
      std::printf("%-9s [%llu, %llu] %llu values, %u-bit counts, %.2f s\n",
                  names[static_cast<int>(block.method)], static_cast<unsigned long long>(block.first),
                  static_cast<unsigned long long>(block.last),
                  static_cast<unsigned long long>(block.last - block.first + 1), block.countBits, block.cost);
    Sum& sum = sums[static_cast<int>(block.method)];
    ++sum.blocks;
    sum.values += static_cast<double>(block.last - block.first) + 1;
    sum.seconds += block.cost;
    if (block.last - block.first + 1 > sum.widest) sum.widest = block.last - block.first + 1;
    total += block.cost;
    if (block.last == last) break;
    from = block.last + 1;
  }
  for (int m = 0; m < 3; ++m) {
    if (sums[m].blocks == 0) continue;
    std::printf("%-9s %8llu blocks %.4g values (widest %llu) %.1f s\n", names[m],
                static_cast<unsigned long long>(sums[m].blocks), sums[m].values,
                static_cast<unsigned long long>(sums[m].widest), sums[m].seconds);
  }
  std::printf("planned   %.1f s\n", total);
  return 0;
}
