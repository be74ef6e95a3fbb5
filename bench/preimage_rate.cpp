// Preimages streamed through the public API on one core: how many a second
// the walk hands over for one value. Usage: preimage_rate S
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sigma_census/sigma_census.hpp"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  const std::int64_t S = std::atoll(argv[1]);
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t mix = 0;  // read every preimage, so that nothing is optimized away
  const std::int64_t n = sigma_census::forEachPreimage(S, [&](std::span<const std::int64_t> batch) {
    for (const std::int64_t m : batch) mix += static_cast<std::uint64_t>(m);
  });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld preimages in %.2f s: %.3g a second (checksum %llu)\n", static_cast<long long>(n), seconds,
              static_cast<double>(n) / seconds, static_cast<unsigned long long>(mix));
  return 0;
}
