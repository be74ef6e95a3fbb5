// The planner's choice among the three methods (their counts are compared in
// divisor_arithmetic_test).
#include "arith/plan/census_planner.hpp"

#include <gtest/gtest.h>

namespace {

using arith::Method;

TEST(Planner, TakesEachMethodWhereItIsCheapestByFar) {
  const arith::CensusPlanner planner(2, std::uint64_t{4} << 30);
  EXPECT_EQ(planner.plan(1, 1000000000).method, Method::Sieve);
  EXPECT_EQ(planner.plan(100000000000, 100099999999).method, Method::Window);
  EXPECT_EQ(planner.plan(1000000000000, 1000999999999).method, Method::Window);
  EXPECT_EQ(planner.plan(std::uint64_t{1} << 62, (std::uint64_t{1} << 62) + 10000).method, Method::Inversion);
  EXPECT_EQ(planner.plan(9223372036854775000u, 9223372036854775807u).method, Method::Inversion);
}

}  // namespace
