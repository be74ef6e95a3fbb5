// The fast census methods against each other and against trial division.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <random>
#include <vector>

#include "arith/census_planner.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "arith/factorizer.hpp"
#include "arith/montgomery.hpp"
#include "arith/parallel.hpp"
#include "arith/sigma_inverse.hpp"
#include "arith/sigma_sieve.hpp"

namespace {

using arith::DivisorArithmetic;
using arith::Method;
using common::Count;
using common::Int64;

std::vector<Count> collect(DivisorArithmetic& arithmetic, Method method, Int64 L1, Int64 L2) {
  std::vector<Count> all;
  arithmetic.countWith(method, L1, L2, [&](Int64 first, std::span<const Count> counts) {
    EXPECT_EQ(first, L1 + static_cast<Int64>(all.size()));
    all.insert(all.end(), counts.begin(), counts.end());
  });
  EXPECT_EQ(all.size(), static_cast<std::size_t>(L2 - L1 + 1));
  return all;
}

TEST(FastEngine, SieveAndInversionAgreeWithTrialDivision) {
  DivisorArithmetic arithmetic(2);
  std::vector<Count> reference;
  arithmetic.engine().tallyInterval(1, 30000, reference);
  EXPECT_EQ(collect(arithmetic, Method::Sieve, 1, 30000), reference);
  EXPECT_EQ(collect(arithmetic, Method::Inversion, 1, 30000), reference);
}

TEST(FastEngine, MethodsAgreeOnRandomIntervals) {
  DivisorArithmetic arithmetic(2);
  std::mt19937_64 random(20261206);
  for (int round = 0; round < 12; ++round) {
    const Int64 top = Int64{1} << (8 + round * 2);  // up to 2^30
    const Int64 L1 = 1 + static_cast<Int64>(random() % static_cast<std::uint64_t>(top));
    const Int64 L2 = L1 + static_cast<Int64>(random() % 2000);
    EXPECT_EQ(collect(arithmetic, Method::Sieve, L1, L2), collect(arithmetic, Method::Inversion, L1, L2))
        << "[" << L1 << ", " << L2 << "]";
  }
}

TEST(FastEngine, SieveAcrossSeveralBlocksAndChunks) {
  // Blocks of 1000 values force many blocks, each with its own candidates.
  DivisorArithmetic small(3, 1000);
  DivisorArithmetic whole(1);
  EXPECT_EQ(collect(small, Method::Sieve, 4000000, 4010000),
            collect(whole, Method::Inversion, 4000000, 4010000));
  EXPECT_EQ(collect(small, Method::Sieve, 1, 5000), collect(whole, Method::Sieve, 1, 5000));
}

TEST(FastEngine, SameCountsWhateverTheThreads) {
  DivisorArithmetic one(1);
  DivisorArithmetic four(4);
  for (Method method : {Method::Sieve, Method::Inversion}) {
    EXPECT_EQ(collect(one, method, 5000000, 5100000), collect(four, method, 5000000, 5100000));
  }
}

TEST(FastEngine, KnownCounts) {
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  arith::CubicSums cubicSums(table);
  arith::SigmaInverse inverse(factorizer, cubicSums);
  // sigma(720720) = 3249792: both methods find the same number of preimages.
  DivisorArithmetic arithmetic(2);
  const auto sieved = collect(arithmetic, Method::Sieve, 3249792, 3249792);
  EXPECT_EQ(sieved[0], inverse.count(3249792));
  EXPECT_GT(sieved[0], 0);
  // Values with hundreds of divisors: many ways, the knapsack's hardest case.
  for (Int64 n : {Int64{21621600}, Int64{43243200}}) {
    const auto direct = collect(arithmetic, Method::Sieve, n, n);
    EXPECT_EQ(direct[0], inverse.count(static_cast<std::uint64_t>(n))) << n;
    EXPECT_GT(direct[0], 100) << n;
  }
}

TEST(FastEngine, FactorizerAndPrimality) {
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

TEST(FastEngine, RobinBoundKeepsEveryCandidate) {
  // No m below lowestCandidate(sigma(m)) may be skipped: check every m up to 3e6.
  arith::PrimeTable table;
  table.extendPast(2000);
  arith::SigmaSieve sieve(table.Nprem, 1, 3000001);
  std::uint64_t m = 1;
  for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
    for (std::uint64_t sigma : sums) {
      ASSERT_LE(arith::lowestCandidate(sigma), m) << m;
      ++m;
    }
  }
  EXPECT_GT(arith::lowestCandidate(1000000000), 100000000u);  // the bound does skip candidates
}

TEST(FastEngine, BlockPlanStaysWithinTheMemoryBound) {
  constexpr std::uint64_t kBound = std::uint64_t{3} << 29;  // 1.5 GiB
  for (unsigned threads : {1u, 2u, 16u, 64u}) {
    const arith::CensusPlanner planner(threads, DivisorArithmetic::kBlockValues);
    const std::uint64_t top = 9223372036854775807ULL;
    const std::uint64_t starts[] = {1, 1000, 1ULL << 32, 1ULL << 40, 1ULL << 52, top - 5};
    for (std::uint64_t from : starts) {
      const std::uint64_t ends[] = {from + 10, from + (1ULL << 31), top};
      for (std::uint64_t to : ends) {
        if (to < from || to > top) continue;
        const arith::BlockPlan block = planner.plan(from, to);
        EXPECT_LE(block.bytes, kBound);
        EXPECT_LE(block.last - block.first + 1, DivisorArithmetic::kBlockValues);
        EXPECT_EQ(block.first, from);
        EXPECT_LE(block.last, to);
      }
    }
  }
}

}  // namespace

namespace {

TEST(Parallel, AnExceptionInAnyThreadReachesTheCaller) {
  for (unsigned thrower : {0u, 1u, 3u}) {
    std::atomic<unsigned> ran{0};
    EXPECT_THROW(arith::runParallel(4,
                                    [&](unsigned t) {
                                      ++ran;
                                      if (t == thrower) throw std::bad_alloc();
                                    }),
                 std::bad_alloc)
        << thrower;
    EXPECT_EQ(ran.load(), 4u);  // the other threads ran to their end
  }
}

}  // namespace
