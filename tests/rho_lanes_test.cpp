// The interleaved Pollard-Brent walks against composites of every shape.
#include "arith/inversion/rho_lanes.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "arith/inversion/factorizer.hpp"
#include "arith/primes/prime_table.hpp"

namespace {

TEST(Factorizer, InterleavedRhoSplitsEveryCompositeOfAnyShape) {
  // Products of two or three primes above 2^20, balanced and not, squares
  // and cubes, up to just below 2^63; more numbers than lanes, so lanes
  // take new numbers while others still walk, and fewer at the end.
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  std::mt19937_64 random(20);
  auto primeNear = [&](std::uint64_t n) {
    while (!factorizer.isPrime(n)) ++n;
    return n;
  };
  const std::uint64_t least = primeNear(std::uint64_t{1} << 20);
  std::vector<std::uint64_t> composites = {least * least, least * least * least,
                                           primeNear(3000000000) * primeNear(3030000000)};
  for (int k = 0; k < 37; ++k) {
    const std::uint64_t small = primeNear(least + random() % (std::uint64_t{1} << (20 + k % 12)));
    const std::uint64_t room = (std::uint64_t{1} << 63) / small;  // the large prime stays below it
    composites.push_back(small * primeNear(std::max(least, room / 2 + random() % (room / 4))));
  }
  for (const std::size_t count : {std::size_t{1}, std::size_t{3}, composites.size()}) {
    std::vector<std::uint64_t> divisors(count, 0);
    arith::splitComposites(std::span(composites).first(count), divisors);
    for (std::size_t k = 0; k < count; ++k) {
      EXPECT_GT(divisors[k], 1u) << composites[k];
      EXPECT_LT(divisors[k], composites[k]);
      EXPECT_EQ(composites[k] % divisors[k], 0u) << composites[k];
    }
  }
}

}  // namespace
