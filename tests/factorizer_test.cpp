// Factoring and primality of 64-bit numbers.
#include "arith/factorizer.hpp"

#include <gtest/gtest.h>

#include <random>

#include "arith/montgomery.hpp"

namespace {

TEST(Factorizer, FactorsMultiplyBackAndArePrime) {
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  std::mt19937_64 random(7);
  for (int k = 0; k < 300; ++k) {
    const std::uint64_t n = (random() >> 1) | 1;
    std::uint64_t product = 1;
    for (const auto& f : factorizer.factorize(n)) {
      EXPECT_TRUE(arith::isPrime64(f.prime)) << n;
      for (int e = 0; e < f.exponent; ++e) product *= f.prime;
    }
    EXPECT_EQ(product, n);
  }
  EXPECT_TRUE(arith::isPrime64(9223372036854775783ULL));  // largest prime below 2^63
  EXPECT_FALSE(arith::isPrime64(3215031751ULL));          // strong pseudoprime to 2, 3, 5, 7
  const auto semiprime = factorizer.factorize(4294967291ULL * 4294967279ULL);
  ASSERT_EQ(semiprime.size(), 2u);
  EXPECT_EQ(semiprime[0].prime, 4294967279ULL);
}

}  // namespace
