// Primality of 64-bit numbers: against a sieve, and at the pseudoprimes that
// would fool too short a set of bases.
#include "arith/primes/primality.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

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

TEST(Primality, OddPrimesReadOffTheBitmapAreThoseTestedAndPseudoprimesComposite) {
  const arith::PrimeTest test;
  const std::uint64_t edge = arith::PrimeTest::kBitmapLimit;
  std::mt19937_64 random(5);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges = {
      {0, 0}, {0, 1},   {0, 2},     {2, 3},     {3, 3},
      {4, 4}, {1, 200}, {127, 129}, {128, 255}, {edge - 1000, edge - 1}};
  for (int k = 0; k < 300; ++k) {
    const std::uint64_t lo = random() % edge;
    ranges.emplace_back(lo, std::min(edge - 1, lo + random() % (k % 2 == 0 ? 300 : 5000)));
  }
  for (const auto& [lo, hi] : ranges) {
    std::vector<std::uint64_t> read;
    test.forEachOddPrime(lo, hi, [&](std::uint64_t p) { read.push_back(p); });
    std::vector<std::uint64_t> tested;
    for (std::uint64_t n = lo; n <= hi; ++n) {
      if (n % 2 == 1 && test(n)) tested.push_back(n);
    }
    ASSERT_EQ(read, tested) << "[" << lo << ", " << hi << "]";
  }
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
