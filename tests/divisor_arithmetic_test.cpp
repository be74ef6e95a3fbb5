// The census methods against each other and against trial division, by block and by thread.
#include "arith/divisor_arithmetic.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <random>
#include <vector>

#include "arith/census_planner.hpp"
#include "arith/factorizer.hpp"
#include "arith/montgomery.hpp"
#include "arith/parallel.hpp"
#include "arith/sieve/sigma_sieve.hpp"
#include "arith/sigma_inverse.hpp"

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

TEST(Arithmetic, SieveAndInversionAgreeWithTrialDivision) {
  DivisorArithmetic arithmetic(2);
  std::vector<Count> reference;
  arithmetic.engine().tallyInterval(1, 30000, reference);
  EXPECT_EQ(collect(arithmetic, Method::Sieve, 1, 30000), reference);
  EXPECT_EQ(collect(arithmetic, Method::Inversion, 1, 30000), reference);
  EXPECT_EQ(collect(arithmetic, Method::Window, 1, 30000), reference);
}

TEST(Arithmetic, MethodsAgreeOnRandomIntervals) {
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

TEST(Arithmetic, ATinyBudgetForcesManyBlocksWithTheSameCounts) {
  // A budget that leaves room for blocks of 5000 values in 4-bit counts
  // (the unbounded one counts in 8 bits).
  DivisorArithmetic small(3, arith::BlockSieve::bytesFor(5000, 3, 4));
  DivisorArithmetic whole(1);
  EXPECT_EQ(small.planner().sieveBlockValues(), 5000u);
  EXPECT_EQ(collect(small, Method::Sieve, 4000000, 4030000),
            collect(whole, Method::Inversion, 4000000, 4030000));
  EXPECT_EQ(collect(small, Method::Sieve, 1, 50000), collect(whole, Method::Sieve, 1, 50000));
  arith::CountHistogram many;
  arith::CountHistogram one;
  small.tallyDivisorSums(1, 200000, many);
  whole.tallyDivisorSums(1, 200000, one);
  EXPECT_EQ(many, one);
}

TEST(Arithmetic, TallyIsTheHistogramOfTheCounts) {
  DivisorArithmetic arithmetic(2);
  for (Method method : {Method::Sieve, Method::Inversion, Method::Window}) {
    for (auto [L1, L2] : {std::pair<Int64, Int64>{1, 100000}, {3000000, 3070000}}) {
      arith::CountHistogram expected;
      for (Count c : collect(arithmetic, method, L1, L2)) expected.add(c);
      arith::CountHistogram tallied;
      arithmetic.tallyWith(method, L1, L2, tallied);
      EXPECT_EQ(tallied, expected) << L1;
      EXPECT_EQ(tallied.total(), L2 - L1 + 1);
    }
  }
  // The planner's own choice, as the census asks for it.
  arith::CountHistogram planned;
  arithmetic.tallyDivisorSums(1, 1000, planned);
  EXPECT_EQ(planned[15], 1);  // 720 alone has 15 preimages
  EXPECT_EQ(planned[0], 690);
}

TEST(Arithmetic, SameCountsWhateverTheThreads) {
  DivisorArithmetic one(1);
  DivisorArithmetic four(4);
  for (Method method : {Method::Sieve, Method::Inversion, Method::Window}) {
    EXPECT_EQ(collect(one, method, 5000000, 5100000), collect(four, method, 5000000, 5100000));
  }
}

TEST(Arithmetic, KnownCounts) {
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
