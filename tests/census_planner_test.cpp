// The planner's choice among the three methods (their counts are compared in
// divisor_arithmetic_test).
#include "arith/plan/census_planner.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using arith::Method;

TEST(Planner, TakesEachMethodWhereItIsCheapestByFar) {
  const arith::CensusPlanner planner(2, std::uint64_t{4} << 30);
  EXPECT_EQ(planner.plan(1, 1000000000).method, Method::Window);
  EXPECT_EQ(planner.plan(100000000000, 100099999999).method, Method::Window);
  EXPECT_EQ(planner.plan(1000000000000, 1000999999999).method, Method::Window);
  EXPECT_EQ(planner.plan(std::uint64_t{1} << 62, (std::uint64_t{1} << 62) + 10000).method, Method::Inversion);
  EXPECT_EQ(planner.plan(9223372036854775000u, 9223372036854775807u).method, Method::Inversion);
}

// High up a window block walks over a hundred million prefixes whatever its
// width: in a long run it takes all the 8-bit counts the memory allows.
TEST(Planner, WindowBlocksHighUpTakeTheWidestEightBitCounts) {
  constexpr std::uint64_t kFrom = (std::uint64_t{1} << 40) + 1;
  const arith::CensusPlanner roomy(2, std::uint64_t{12} << 30);
  const arith::BlockPlan wide = roomy.plan(kFrom, kFrom + (std::uint64_t{1} << 36));
  EXPECT_EQ(wide.method, Method::Window);
  EXPECT_EQ(wide.countBits, 8u);
  EXPECT_GT(wide.last - wide.first + 1, arith::CensusPlanner::kNarrowBlock);
  EXPECT_LE(wide.bytes, std::uint64_t{12} << 30);
  // A short interval does not pay for the wide block's fresh memory.
  const arith::BlockPlan shortRun = roomy.plan(kFrom, kFrom + (std::uint64_t{1} << 32));
  EXPECT_EQ(shortRun.method, Method::Window);
  EXPECT_EQ(shortRun.last - shortRun.first + 1, arith::CensusPlanner::kNarrowBlock);
  // Nor does a long run's end switch back to narrow blocks: their memory is held.
  const std::uint64_t end = kFrom + (std::uint64_t{1} << 36);
  const arith::BlockPlan tail = roomy.plan(end - (std::uint64_t{1} << 33), end, kFrom);
  EXPECT_EQ(tail.last - tail.first + 1, wide.last - wide.first + 1);
  // A run that holds fewer than eight of the widest blocks takes an eighth
  // of itself a block from the start, not narrow blocks and one wide at the end.
  const std::uint64_t run = std::uint64_t{1} << 34;
  const arith::BlockPlan eighth = roomy.plan(kFrom, kFrom + run - 1);
  EXPECT_EQ(eighth.last - eighth.first + 1, run / arith::CensusPlanner::kWideWindowRun);
  EXPECT_EQ(eighth.countBits, 8u);
  // Low down a wide block saves nothing per value, and its fresh memory would
  // make the whole calculation dearer: the blocks stay narrow.
  const arith::CensusPlanner oneThread(1, std::uint64_t{8} << 30);
  const arith::BlockPlan low = oneThread.plan(1, 20000000000);
  EXPECT_EQ(low.last - low.first + 1, arith::CensusPlanner::kNarrowBlock);
  const arith::CensusPlanner tight(2, std::uint64_t{1} << 30);
  const arith::BlockPlan narrow = tight.plan(kFrom, kFrom + (std::uint64_t{1} << 36));
  EXPECT_EQ(narrow.method, Method::Window);
  EXPECT_LE(narrow.bytes, std::uint64_t{1} << 30);
}

// The planned blocks tile the calculation, and a span's walk is charged to
// the block that walks it, the first past the last span, as the share of
// its cost taken before its sums: near 2^40 a sixteenth holds two spans.
TEST(Planner, ASpansWalkIsChargedToTheBlockThatWalksIt) {
  const arith::CensusPlanner roomy(2, std::uint64_t{13} << 30);
  const std::uint64_t to = std::uint64_t{1} << 40;
  const std::uint64_t from = to - (std::uint64_t{1} << 36) + 1;
  std::vector<arith::BlockPlan> blocks;
  roomy.forEachBlock(from, to, [&](const arith::BlockPlan& block) {
    blocks.push_back(block);
    return true;
  });
  ASSERT_GT(blocks.size(), 4u);
  std::uint64_t next = from;
  std::vector<std::size_t> walking;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    EXPECT_EQ(blocks[k].first, next);
    next = blocks[k].last + 1;
    EXPECT_EQ(blocks[k].method, Method::Window);
    EXPECT_LT(blocks[k].prepared, 1.0);
    if (blocks[k].prepared > 0) walking.push_back(k);
  }
  EXPECT_EQ(next, to + 1);
  ASSERT_EQ(walking.size(), 2u);
  EXPECT_EQ(walking[0], 0u);
  // The second span begins with the first block that reaches past a
  // thirty-second of the first's first value, and costs its walk more.
  const arith::BlockPlan& second = blocks[walking[1]];
  EXPECT_GT(second.last, from + from / 32);
  EXPECT_LE(blocks[walking[1] - 1].last, from + from / 32);
  EXPECT_GT(second.cost, blocks[walking[1] - 1].cost * (1 + second.prepared / 2));
}

}  // namespace
