// The pace of window blocks inside one run: BLOCKS blocks of 2^BITS values
// just below TOP, one after the other in one DivisorArithmetic (its memory
// kept from block to block, as in a long census), each block's wall and CPU
// seconds, and both per 2^30 values. The first block pays the fresh pages.
// Usage: block_pace TOP BITS BLOCKS [THREADS]
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "arith/divisor_arithmetic.hpp"

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: block_pace TOP BITS BLOCKS [THREADS]\n");
    return 64;
  }
  const std::uint64_t top = std::strtoull(argv[1], nullptr, 0);
  const unsigned bits = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0));
  const std::uint64_t blocks = std::strtoull(argv[3], nullptr, 0);
  const unsigned threads = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 0)) : 0;
  const std::uint64_t width = std::uint64_t{1} << bits;
  if (bits < 16 || bits > 36 || blocks == 0 || blocks > top / width) {
    std::fprintf(stderr, "block_pace: BITS from 16 to 36, and BLOCKS blocks below TOP\n");
    return 64;
  }
  arith::DivisorArithmetic arithmetic(threads);
  const double per = std::ldexp(1.0, static_cast<int>(bits) - 30);  // blocks of 2^30 values in one
  for (std::uint64_t i = 0; i < blocks; ++i) {
    arith::BlockPlan block;
    block.first = top - (blocks - i) * width + 1;
    block.last = top - (blocks - i - 1) * width;
    block.method = arith::Method::Window;
    block.countBits = 8;
    arith::CountHistogram histogram;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = cpuSeconds();
    arithmetic.runPlannedBlock(block, nullptr, &histogram);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double used = cpuSeconds() - cpu;
    std::printf("| 2^%u | %llu | %.2f s | %.2f s | %.2f s | %.2f s |\n", bits,
                static_cast<unsigned long long>(i + 1), wall, used, wall / per, used / per);
    std::fflush(stdout);
  }
  return 0;
}
