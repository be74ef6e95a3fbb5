// Factoring and primality of 64-bit numbers, one at a time and by blocks.
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

TEST(Factorizer, FactorsMultiplyBackAndArePrime) {
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
}

TEST(Factorizer, BlocksAgreeWithOneNumberAtATime) {
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  arith::BlockFactorizer block(factorizer);
  const std::uint64_t top = 9223372036854775807ULL;
  std::mt19937_64 random(62);
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

// Whether each of [lo, lo + width) is prime, by a plain segmented sieve.
std::vector<bool> sievedPrimes(std::uint64_t lo, std::uint64_t width) {
  std::vector<bool> prime(width, true);
  for (std::uint64_t k = 0; k < width; ++k) prime[k] = lo + k >= 2;
  for (std::uint64_t p = 2; p * p < lo + width; ++p) {
    for (std::uint64_t m = std::max(p * p, (lo + p - 1) / p * p); m < lo + width; m += p)
      prime[m - lo] = false;
  }
  return prime;
}

TEST(Primality, AgreesWithASieveAcrossEveryPath) {
  // The bitmap, its edge, the 32-bit test, 2^32 and the bands of each set of bases.
  arith::PrimeTest test;
  const std::uint64_t edge = arith::PrimeTest::kBitmapLimit;
  for (auto [lo, width] : {std::pair<std::uint64_t, std::uint64_t>{0, 3000000},
                           {edge - 300000, 600000},
                           {(std::uint64_t{1} << 32) - 300000, 600000},
                           {1122004669633ULL - 100000, 200000},
                           {55245642489451ULL - 100000, 200000},
                           {7999252175582851ULL - 50000, 100000}}) {
    const std::vector<bool> prime = sievedPrimes(lo, width);
    for (std::uint64_t k = 0; k < width; ++k) {
      ASSERT_EQ(test(lo + k), prime[k]) << lo + k;
      ASSERT_EQ(arith::isPrime64(lo + k), prime[k]) << lo + k;
    }
  }
}

TEST(Primality, StrongPseudoprimesToSmallBasesAreComposite) {
  arith::PrimeTest test;
  // The smallest strong pseudoprimes to the first bases (2; 2, 3; ...), to
  // 2, 7, 61 and to 2, 13, 23, 1662803, and some Carmichael numbers.
  for (std::uint64_t n : {2047ULL, 1373653ULL, 25326001ULL, 3215031751ULL, 4759123141ULL, 1122004669633ULL,
                          2152302898747ULL, 3474749660383ULL, 341550071728321ULL, 3825123056546413051ULL,
                          // the least composites that pass the 4-, 5- and 6-base sets
                          55245642489451ULL, 7999252175582851ULL, 585226005592931977ULL, 561ULL, 41041ULL,
                          825265ULL, 321197185ULL, 3141703961467ULL}) {
    EXPECT_FALSE(test(n)) << n;
    EXPECT_FALSE(arith::isPrime64(n)) << n;
  }
  for (std::uint64_t n : {2ULL, 3ULL, 16777213ULL, 4294967291ULL, 4294967311ULL, 1122004669603ULL,
                          9223372036854775783ULL, 18446744073709551557ULL}) {
    EXPECT_TRUE(test(n)) << n;
    EXPECT_TRUE(arith::isPrime64(n)) << n;
  }
  EXPECT_FALSE(test(4294967291ULL * 4294967279ULL));
  EXPECT_FALSE(test(std::uint64_t{4294967291ULL} * 4294967291ULL));
}

}  // namespace
