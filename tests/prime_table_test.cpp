// Growth of the prime table, one prime at a time and by segments.
#include "arith/primes/prime_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "reference/divisor_engine.hpp"

namespace {

TEST(PrimeTable, SuivAppendsTheNextPrimesAndSegmentsGiveTheSameTable) {
  arith::PrimeTable table;
  EXPECT_EQ(table.np, 2);
  EXPECT_EQ(table.Nprem, (std::vector<common::Int64>{0, 2, 3}));
  reference::Suiv(table);
  EXPECT_EQ(table.Nprem.back(), 5);
  while (table.Nprem.back() < 23) reference::Suiv(table);
  reference::Suiv(table);  // passes over 25 and 27
  EXPECT_EQ(table.Nprem.back(), 29);
  while (table.Nprem.back() < 47) reference::Suiv(table);
  reference::Suiv(table);  // passes over 49 and 51
  EXPECT_EQ(table.Nprem.back(), 53);
  EXPECT_EQ(table.np, static_cast<common::Int64>(table.Nprem.size()) - 1);
  arith::PrimeTable bySuiv;
  arith::PrimeTable bySegments;
  bySegments.extendPast(200000);
  while (bySuiv.np < bySegments.np) reference::Suiv(bySuiv);
  EXPECT_EQ(bySuiv.Nprem, bySegments.Nprem);
  EXPECT_GT(bySegments.Nprem.back(), 200000);
  const auto upTo = std::upper_bound(bySegments.Nprem.begin(), bySegments.Nprem.end(), 200000);
  EXPECT_EQ(upTo - bySegments.Nprem.begin() - 1, 17984);  // pi(200000)
}

TEST(PrimeTable, FactorizingInOrderGrowsTheTableWhereExpected) {
  // Factorizing 1, 2, 3, ... appends 5 at 11, 7 at 29, 11 at 53, ..., 37 at 967.
  arith::PrimeTable table;
  reference::DivisorEngine engine(table);
  const std::vector<std::pair<common::Int64, common::Int64>> expected = {
      {11, 5},   {29, 7},   {53, 11},  {127, 13}, {173, 17},
      {293, 19}, {367, 23}, {541, 29}, {853, 31}, {967, 37}};
  std::size_t next = 0;
  for (common::Int64 s = 1; s <= 1000; ++s) {
    const common::Int64 before = table.np;
    engine.S = s;
    engine.calcul();
    if (table.np != before) {
      ASSERT_LT(next, expected.size());
      EXPECT_EQ(s, expected[next].first);
      EXPECT_EQ(table.Nprem.back(), expected[next].second);
      ++next;
    }
  }
  EXPECT_EQ(next, expected.size());
}

}  // namespace
