// The census methods against each other and against trial division, by block and by thread.
#include "arith/divisor_arithmetic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <random>
#include <vector>

#include "arith/blocks/block_counter.hpp"
#include "arith/blocks/parallel.hpp"
#include "arith/plan/census_planner.hpp"
#include "arith/primes/prime_table.hpp"
#include "collect_counts.hpp"
#include "reference/divisor_engine.hpp"

namespace {

using arith::DivisorArithmetic;
using arith::Method;
using common::Count;
using common::Int64;

TEST(Arithmetic, SieveAndInversionAgreeWithTrialDivision) {
  DivisorArithmetic arithmetic(2);
  arith::PrimeTable table;
  reference::DivisorEngine engine(table);
  std::vector<Count> reference;
  engine.tallyInterval(1, 30000, reference);
  EXPECT_EQ(collect(arithmetic, Method::Sieve, 1, 30000), reference);
  EXPECT_EQ(collect(arithmetic, Method::Inversion, 1, 30000), reference);
  EXPECT_EQ(collect(arithmetic, Method::Window, 1, 30000), reference);
  // A block that starts above 1 but low: its sums come from the numbers
  // prime to 6 as at 1, and those below the block are dropped.
  EXPECT_EQ(collect(arithmetic, Method::Sieve, 5000, 30000),
            std::vector<Count>(reference.begin() + 4999, reference.end()));
  // The planner's own blocks, as the census asks for them.
  std::vector<Count> planned;
  arithmetic.countDivisorSums(1000, 30000, [&](Int64, std::span<const Count> block) {
    planned.insert(planned.end(), block.begin(), block.end());
  });
  EXPECT_EQ(planned, std::vector<Count>(reference.begin() + 999, reference.end()));
}

TEST(Arithmetic, MethodsAgreeOnRandomIntervals) {
  DivisorArithmetic arithmetic(2);
  std::mt19937_64 random(20261207);
  for (int round = 0; round < 25; ++round) {
    // From 10^3 to 10^13 (the window walk's cost grows with the top, so one
    // interval there); every third holds a single value. The sieve below 2^27.
    const double exponent = round == 23 ? 13 : 3 + 9.0 * round / 22;
    auto L1 = static_cast<Int64>(std::pow(10.0, exponent) * (1 + 0.5 * (random() % 1000) / 1000.0));
    Int64 L2 = L1 + (round % 3 == 0 ? 0 : static_cast<Int64>(random() % 30000));
    if (round == 24) {  // intervals of 64 to 2047 primes past the prime bitmap sieved, shorter ones tested
      L1 = 100000000000;
      L2 = L1 + (Int64{1} << 16) - 1;
    }
    const auto inverted = collect(arithmetic, Method::Inversion, L1, L2);
    EXPECT_EQ(collect(arithmetic, Method::Window, L1, L2), inverted) << "[" << L1 << ", " << L2 << "]";
    if (L2 < Int64{1} << 27) {
      EXPECT_EQ(collect(arithmetic, Method::Sieve, L1, L2), inverted) << "[" << L1 << ", " << L2 << "]";
    }
  }
}

TEST(Arithmetic, MethodsAgreeOnValuesRichInDivisorsAndAtPrimePowers) {
  DivisorArithmetic arithmetic(2);
  // Values with hundreds to thousands of preimages (the knapsack's hardest
  // case), sigma(720720) = 3249792, the sums of prime powers (sigma(2^38),
  // sigma(3^24), sigma(999983^2)) and prime powers; the sieve below 2^27.
  // With each centre, the fewest preimages it is known to have (0: not checked).
  const std::vector<std::pair<Int64, Count>> centres = {{3249792, 1},
                                                        {21621600, 101},
                                                        {43243200, 101},
                                                        {6983776800, 1001},
                                                        {321253732800, 1001},
                                                        {(Int64{1} << 39) - 1, 1},
                                                        {(Int64{282429536481} * 3 - 1) / 2, 1},
                                                        {Int64{999983} * 999983 + 999984, 1},
                                                        {Int64{1} << 38, 0},
                                                        {Int64{531441} * 531441, 0}};
  for (const auto& [centre, fewest] : centres) {
    const Int64 L1 = centre - 300;
    const Int64 L2 = centre + 300;
    const auto inverted = collect(arithmetic, Method::Inversion, L1, L2);
    EXPECT_EQ(collect(arithmetic, Method::Window, L1, L2), inverted) << centre;
    if (L2 < Int64{1} << 27) {
      EXPECT_EQ(collect(arithmetic, Method::Sieve, L1, L2), inverted) << centre;
    }
    if (fewest > 0) {
      EXPECT_GE(inverted[300], fewest) << centre;
    }
  }
}

TEST(Arithmetic, ATinyBudgetOrMoreThreadsGiveTheSameCounts) {
  // A budget that leaves room for blocks of 5000 values in 4-bit counts
  // (the unbounded one counts in 8 bits).
  DivisorArithmetic small(3, arith::BlockCounter::bytesFor(5000, 3, 4));
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
  DivisorArithmetic four(4);
  for (Method method : {Method::Sieve, Method::Inversion, Method::Window})
    EXPECT_EQ(collect(four, method, 5000000, 5100000), collect(whole, method, 5000000, 5100000));
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
      // Again, on counts the first tally cleared as it read them.
      arith::CountHistogram again;
      arithmetic.tallyWith(method, L1, L2, again);
      EXPECT_EQ(again, expected) << L1;
    }
  }
  // The planner's own choice, as the census asks for it.
  arith::CountHistogram planned;
  arithmetic.tallyDivisorSums(1, 1000, planned);
  EXPECT_EQ(planned[15], 1);  // 720 alone has 15 preimages
  EXPECT_EQ(planned[0], 690);
}

// Blocks that share a span's walk (a budget with room for its tally) give
// the counts of blocks that walk their own, and the progress told through
// the span's walk and then the sums only grows, up to the whole.
TEST(Arithmetic, SpansGiveTheSameTallyAndTheirProgressOnlyGrows) {
  const Int64 L1 = Int64{1} << 34;
  const Int64 L2 = L1 + (Int64{1} << 29);
  DivisorArithmetic spanned(2, 200000000);
  DivisorArithmetic alone(2, 100000000);
  bool walks = false;
  spanned.planner().forEachBlock(L1, L2, [&](const arith::BlockPlan& block) {
    walks = walks || block.prepared > 0;
    return true;
  });
  ASSERT_TRUE(walks);
  std::vector<double> told;
  arith::CountHistogram viaSpans;
  spanned.tallyDivisorSums(L1, L2, viaSpans, [&](double done) { told.push_back(done); });
  arith::CountHistogram walkedAlone;
  alone.tallyDivisorSums(L1, L2, walkedAlone);
  EXPECT_EQ(viaSpans, walkedAlone);
  ASSERT_FALSE(told.empty());
  EXPECT_GE(told.front(), 0.0);
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_DOUBLE_EQ(told.back(), 1.0);
}

}  // namespace
