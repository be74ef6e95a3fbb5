// Every preimage of a value, against a table of sigma made by a sieve low
// down, and against sigma recomputed from each m's own factorization high up.
#include "arith/inversion/preimage_walk.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "arith/divisor_arithmetic.hpp"
#include "arith/inversion/factorizer.hpp"
#include "arith/primes/wide.hpp"

namespace {

// Every preimage of N, sorted.
std::vector<std::uint64_t> preimagesOf(arith::DivisorArithmetic& arithmetic, std::int64_t N) {
  std::vector<std::uint64_t> all;
  const auto handed = arithmetic.preimages(N, [&](std::span<const std::uint64_t> batch) {
    all.insert(all.end(), batch.begin(), batch.end());
    return true;
  });
  EXPECT_EQ(handed, static_cast<std::int64_t>(all.size()));
  std::sort(all.begin(), all.end());
  return all;
}

TEST(Preimages, EveryValueUpTo10To5AgreesWithASieveOfSigma) {
  constexpr std::uint64_t kTop = 100000;
  // sigma(m) by adding every d to its multiples; each m > 1 has sigma(m) > m.
  std::vector<std::uint64_t> sigma(kTop + 1, 0);
  for (std::uint64_t d = 1; d <= kTop; ++d)
    for (std::uint64_t m = d; m <= kTop; m += d) sigma[m] += d;
  std::vector<std::vector<std::uint64_t>> expected(kTop + 1);
  for (std::uint64_t m = 1; m <= kTop; ++m)
    if (sigma[m] <= kTop) expected[sigma[m]].push_back(m);
  arith::DivisorArithmetic arithmetic(1);
  for (std::uint64_t N = 1; N <= kTop; ++N) {
    ASSERT_EQ(preimagesOf(arithmetic, static_cast<std::int64_t>(N)), expected[N]) << N;
    ASSERT_EQ(arithmetic.countOne(static_cast<std::int64_t>(N)),
              static_cast<std::int64_t>(expected[N].size()));
  }
}

// sigma(m) from m's factorization, in 128 bits.
arith::Uint128 sigmaOf(const arith::Factorizer& factorizer, std::uint64_t m) {
  arith::Uint128 sigma = 1;
  for (const arith::PrimePower& pp : factorizer.factorize(m)) {
    arith::Uint128 sum = 1;
    arith::Uint128 power = 1;
    for (int k = 0; k < pp.exponent; ++k) sum += power *= pp.prime;
    sigma *= sum;
  }
  return sigma;
}

TEST(Preimages, RichValuesHighUpAreAllTrueAllDistinctAndAsManyAsCounted) {
  arith::PrimeTable table;
  const arith::Factorizer factorizer(table);
  arith::DivisorArithmetic arithmetic(1);
  // 10!, 12!, 14!, 15! (1195, 14077, 229603 and 910254 preimages), and
  // 2^63 - 25, a value with few.
  for (const std::int64_t N :
       {3628800LL, 479001600LL, 87178291200LL, 1307674368000LL, 9223372036854775783LL}) {
    const std::vector<std::uint64_t> all = preimagesOf(arithmetic, N);
    EXPECT_EQ(static_cast<std::int64_t>(all.size()), arithmetic.countOne(N)) << N;
    EXPECT_TRUE(std::adjacent_find(all.begin(), all.end()) == all.end()) << N;
    for (const std::uint64_t m : all) ASSERT_EQ(sigmaOf(factorizer, m), static_cast<arith::Uint128>(N)) << m;
  }
}

TEST(Preimages, AWalkStopsWhenItsSinkSaysSo) {
  arith::DivisorArithmetic arithmetic(1);
  int batches = 0;
  const auto handed = arithmetic.preimages(7298706024529920000, [&](std::span<const std::uint64_t> batch) {
    ++batches;
    EXPECT_EQ(batch.size(), arith::PreimageWalk::kBatch);
    return false;
  });
  EXPECT_EQ(batches, 1);
  EXPECT_EQ(handed, static_cast<std::int64_t>(arith::PreimageWalk::kBatch));
  // No preimage at all, and the one of 1.
  EXPECT_TRUE(preimagesOf(arithmetic, 2).empty());
  EXPECT_EQ(preimagesOf(arithmetic, 1), std::vector<std::uint64_t>{1});
}

}  // namespace
