// Factoring 64-bit numbers, one at a time and by blocks.
#include "arith/inversion/factorizer.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "arith/inversion/rho_lanes.hpp"
#include "arith/primes/primality.hpp"

namespace {

std::uint64_t product(std::span<const arith::PrimePower> factors) {
  std::uint64_t n = 1;
  for (const auto& f : factors) {
    for (int e = 0; e < f.exponent; ++e) n *= f.prime;
  }
  return n;
}

TEST(Factorizer, FactorsMultiplyBackArePrimeAndBlocksAgreeWithOneAtATime) {
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  std::mt19937_64 random(7);
  for (int k = 0; k < 300; ++k) {
    const std::uint64_t n = (random() >> 1) | 1;
    const auto factors = factorizer.factorize(n);
    for (std::size_t j = 0; j < factors.size(); ++j) {
      EXPECT_TRUE(arith::isPrime64(factors[j].prime)) << n;
      if (j > 0) {
        EXPECT_LT(factors[j - 1].prime, factors[j].prime) << n;
      }
    }
    EXPECT_EQ(product(factors), n);
  }
  const auto semiprime = factorizer.factorize(4294967291ULL * 4294967279ULL);
  ASSERT_EQ(semiprime.size(), 2u);
  EXPECT_EQ(semiprime[0].prime, 4294967279ULL);
  // Blocks by the sieve, as one number at a time.
  arith::BlockFactorizer block(factorizer);
  const std::uint64_t top = 9223372036854775807ULL;
  const std::uint64_t starts[] = {1,
                                  2,
                                  1000003,
                                  999999999989,
                                  std::uint64_t{1} << 40,
                                  std::uint64_t{1} << 62,
                                  (std::uint64_t{1} << 62) + random() % 1000000000,
                                  top - 2999,
                                  top - 777};
  for (std::uint64_t first : starts) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(3000, top - first + 1));
    block.factor(first, count);
    for (std::size_t k = 0; k < count; ++k) {
      const auto one = factorizer.factorize(first + k);
      const auto sieved = block.factorsOf(k);
      ASSERT_EQ(sieved.size(), one.size()) << first + k;
      for (std::size_t j = 0; j < one.size(); ++j) {
        ASSERT_EQ(sieved[j].prime, one[j].prime) << first + k;
        ASSERT_EQ(sieved[j].exponent, one[j].exponent) << first + k;
      }
    }
  }
}

}  // namespace
