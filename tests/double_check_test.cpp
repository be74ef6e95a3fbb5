// The double check: the sample drawn from a block, the recount by the other
// method, and a difference stopping the calculation before the block is kept,
// here and through a block runner.
#include "arith/check/double_check.hpp"

#include <gtest/gtest.h>

#include <set>

#include "arith/divisor_arithmetic.hpp"

namespace {

using arith::BlockPlan;
using arith::BlockSample;
using arith::CountHistogram;
using arith::DoubleCheck;
using common::Count;
using common::Int64;

TEST(DoubleCheckSample, DistinctValuesOfTheBlockTheSameEveryRun) {
  const auto values = arith::sampleValues(1000000, 1999999, 1000);
  EXPECT_EQ(values.size(), 1000u);
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_EQ(std::set<std::uint64_t>(values.begin(), values.end()).size(), 1000u);
  EXPECT_GE(values.front(), 1000000u);
  EXPECT_LE(values.back(), 1999999u);
  EXPECT_EQ(values, arith::sampleValues(1000000, 1999999, 1000));
  EXPECT_NE(values, arith::sampleValues(1000001, 1999999, 1000));
  // Spread over the block, not bunched at one end.
  EXPECT_LT(values[100], 1300000u);
  EXPECT_GT(values[900], 1700000u);
  // A block narrower than the sample, or barely wider: every value, or all but one.
  EXPECT_EQ(arith::sampleValues(7, 9, 1000), (std::vector<std::uint64_t>{7, 8, 9}));
  EXPECT_EQ(arith::sampleValues(1, 1001, 1000).size(), 1000u);
  const std::uint64_t top = 9223372036854775807ULL;
  const auto high = arith::sampleValues(top - 5000, top, 1000);
  EXPECT_EQ(high.back() <= top && high.front() >= top - 5000, true);
}

TEST(DoubleCheck, TheRecountAgreesWithEveryMethodAndADifferenceIsNamed) {
  arith::DivisorArithmetic arithmetic(2);
  for (const auto method : {arith::Method::Sieve, arith::Method::Window, arith::Method::Inversion}) {
    BlockPlan block;
    block.first = method == arith::Method::Sieve ? 1 : 100000000000;
    block.last = block.first + 199999;
    block.method = method;
    block.countBits = 8;
    BlockSample sample = DoubleCheck::sampleFor(block);
    CountHistogram histogram;
    arithmetic.runPlannedBlock(block, nullptr, &histogram, &sample);
    ASSERT_EQ(sample.counts.size(), sample.values.size());
    const std::vector<Count> recounted = arithmetic.recountSample(block, sample);
    EXPECT_EQ(recounted, sample.counts);
    EXPECT_NO_THROW(arith::compareSample(sample, recounted));
    // A value with preimages somewhere in the sample.
    EXPECT_TRUE(std::any_of(recounted.begin(), recounted.end(), [](Count c) { return c > 0; }));
    sample.counts[17] += 1;
    try {
      arith::compareSample(sample, recounted, " (here)");
      ADD_FAILURE() << "a difference passed";
    } catch (const arith::DoubleCheckFailure& failure) {
      EXPECT_EQ(failure.value(), sample.values[17]);
      EXPECT_EQ(failure.counted(), recounted[17] + 1);
      EXPECT_EQ(std::string(failure.what()),
                "double check failed at S = " + std::to_string(sample.values[17]) + ": the block counted " +
                    std::to_string(recounted[17] + 1) + ", the inversion counts " +
                    std::to_string(recounted[17]) + " (here)");
    }
  }
}

// Serves blocks from a second arithmetic, as the MPI layer does, and claims
// one preimage more for every value from `wrongFrom` on.
class FaultyRunner : public arith::BlockRunner {
 public:
  explicit FaultyRunner(std::uint64_t wrongFrom) : wrongFrom_(wrongFrom), server_(1) {}
  unsigned parallelBlocks() const override { return 2; }
  void run(const std::function<bool(BlockPlan&)>& next, const arith::CountSink* sink,
           CountHistogram* histogram, const Finished& finished, const Recount* recount) override {
    ASSERT_NE(recount, nullptr);
    for (BlockPlan block; next(block);) {
      CountHistogram own;
      BlockSample sample = DoubleCheck::sampleFor(block);
      server_.runPlannedBlock(block, sink, &own, &sample);
      for (std::size_t k = 0; k < sample.values.size(); ++k)
        sample.counts[k] += sample.values[k] >= wrongFrom_;
      arith::compareSample(sample, (*recount)(block, sample));
      histogram->add(own);
      finished(block, &own);
    }
  }

 private:
  std::uint64_t wrongFrom_;
  arith::DivisorArithmetic server_;
};

TEST(DoubleCheck, ADifferenceEndsTheCalculationBeforeItsBlockIsKept) {
  const Int64 L1 = 100000000000;
  const Int64 L2 = L1 + 99999;
  arith::DivisorArithmetic plain(2);
  CountHistogram expected;
  plain.tallyDivisorSums(L1, L2, expected);
  arith::DivisorArithmetic checked(2);
  checked.setDoubleCheck(true);
  CountHistogram here;
  checked.tallyDivisorSums(L1, L2, here);
  EXPECT_EQ(here, expected);

  FaultyRunner runner(static_cast<std::uint64_t>(L1) + 50000);
  checked.setBlockRunner(&runner);
  CountHistogram remote;
  Int64 keptTo = L1 - 1;
  try {
    checked.tallyDivisorSums(L1, L2, remote, {}, [&](Int64 first, Int64 last, const CountHistogram*) {
      EXPECT_EQ(first, keptTo + 1);
      keptTo = last;
    });
    ADD_FAILURE() << "a wrong block passed";
  } catch (const arith::DoubleCheckFailure& failure) {
    // Blocks before the fault were kept, the faulty one was not.
    EXPECT_GE(failure.value(), static_cast<std::uint64_t>(L1) + 50000);
    EXPECT_GT(keptTo, L1);
    EXPECT_LT(keptTo, static_cast<Int64>(failure.value()));
  }
}

}  // namespace
