// The cutting of an interval for a block runner (the MPI layer's seam) and the
// order of what comes back, with an in-process runner that serves blocks from
// a second arithmetic, out of order where order does not matter.
#include "arith/block_runner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "arith/check/double_check.hpp"
#include "arith/divisor_arithmetic.hpp"

namespace {

using arith::BlockPlan;
using arith::CountHistogram;
using common::Count;
using common::Int64;

class FakeRunner : public arith::BlockRunner {
 public:
  explicit FakeRunner(unsigned ranks) : ranks_(ranks), server_(1) {}

  unsigned parallelBlocks() const override { return ranks_; }

  void run(const std::function<bool(BlockPlan&)>& next, const arith::CountSink* sink,
           CountHistogram* histogram, const Finished& finished, const Recount* recount) override {
    std::vector<BlockPlan> blocks;
    for (BlockPlan block; next(block);) blocks.push_back(block);
    planned.insert(planned.end(), blocks.begin(), blocks.end());
    if (sink == nullptr) {
      // Histograms may come back in any order: a shuffled one here.
      std::shuffle(blocks.begin(), blocks.end(), std::mt19937(7));
    }
    for (const BlockPlan& block : blocks) {
      CountHistogram own;
      arith::BlockSample sample = arith::DoubleCheck::sampleFor(block);
      server_.runPlannedBlock(block, sink, sink != nullptr ? nullptr : &own, recount ? &sample : nullptr);
      if (recount != nullptr) {
        ++checked;
        arith::compareSample(sample, (*recount)(block, sample));
      }
      if (histogram != nullptr) histogram->add(own);
      finished(block, sink != nullptr ? nullptr : &own);
    }
  }

  std::vector<BlockPlan> planned;
  int checked = 0;

 private:
  unsigned ranks_;
  arith::DivisorArithmetic server_;
};

// The planned blocks tile [L1, L2] in order, without gap or overlap.
void expectTiling(const std::vector<BlockPlan>& blocks, Int64 L1, Int64 L2) {
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.front().first, static_cast<std::uint64_t>(L1));
  EXPECT_EQ(blocks.back().last, static_cast<std::uint64_t>(L2));
  for (std::size_t k = 1; k < blocks.size(); ++k) EXPECT_EQ(blocks[k].first, blocks[k - 1].last + 1);
}

TEST(BlockRunner, IntervalsHighUpAreCutSoThatEveryRankGetsSeveralBlocks) {
  FakeRunner runner(3);
  arith::DivisorArithmetic arithmetic(1);
  arithmetic.setBlockRunner(&runner);
  const Int64 L1 = 1000000000000;
  const Int64 L2 = L1 + 20000;
  CountHistogram remote;
  std::vector<Int64> told;
  arithmetic.tallyDivisorSums(L1, L2, remote, {}, [&](Int64 first, Int64 last, const CountHistogram* own) {
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->total(), last - first + 1);
    told.push_back(last - first + 1);
  });
  expectTiling(runner.planned, L1, L2);
  EXPECT_GE(runner.planned.size(), 8u * 3u);
  EXPECT_EQ(told.size(), runner.planned.size());
  arith::DivisorArithmetic here(2);
  CountHistogram local;
  here.tallyDivisorSums(L1, L2, local);
  EXPECT_EQ(remote, local);
}

TEST(BlockRunner, CountsComeBackInOrderOfValue) {
  FakeRunner runner(4);
  arith::DivisorArithmetic arithmetic(1);
  arithmetic.setBlockRunner(&runner);
  std::vector<Count> remote;
  Int64 next = 1;
  arithmetic.countDivisorSums(1, 300000, [&](Int64 first, std::span<const Count> counts) {
    EXPECT_EQ(first, next);
    next += static_cast<Int64>(counts.size());
    remote.insert(remote.end(), counts.begin(), counts.end());
  });
  expectTiling(runner.planned, 1, 300000);
  arith::DivisorArithmetic here(2);
  std::vector<Count> local;
  here.countDivisorSums(1, 300000, [&](Int64, std::span<const Count> counts) {
    local.insert(local.end(), counts.begin(), counts.end());
  });
  EXPECT_EQ(remote, local);
}

}  // namespace
