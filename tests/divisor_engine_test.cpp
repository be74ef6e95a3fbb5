// Factor lists, divisor sums and matches of the one-candidate engine.
#include "reference/divisor_engine.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using common::Int64;
using Ints = std::vector<Int64>;

struct Row {
  Int64 S;
  Ints factors;
  Ints exponents;
  unsigned long long sigma;
  Ints tableAfter;
};

TEST(DivisorEngine, FactorListsAndSumsOnAFreshTable) {
  const std::vector<Row> rows = {
      {1, {}, {}, 1, {2, 3}},
      {2, {2}, {1}, 3, {2, 3}},
      {3, {3}, {1}, 4, {2, 3}},
      {4, {2}, {2}, 7, {2, 3}},
      {6, {2, 3}, {1, 1}, 12, {2, 3}},
      {9, {3}, {2}, 13, {2, 3}},
      {11, {11}, {1}, 12, {2, 3, 5}},
      {12, {2, 3}, {2, 1}, 28, {2, 3}},
      {15, {3, 5}, {1, 1}, 24, {2, 3, 5}},
      {25, {5}, {2}, 31, {2, 3, 5}},
      {49, {7}, {2}, 57, {2, 3, 5, 7}},
      {97, {97}, {1}, 98, {2, 3, 5, 7, 11}},
      {121, {11}, {2}, 133, {2, 3, 5, 7, 11}},
      {360, {2, 3, 5}, {3, 2, 1}, 1170, {2, 3, 5}},
      {720720, {2, 3, 5, 7, 11, 13}, {4, 2, 1, 1, 1, 1}, 3249792, {2, 3, 5, 7, 11, 13}},
  };
  for (const Row& row : rows) {
    arith::PrimeTable table;
    reference::DivisorEngine engine(table);
    engine.S = row.S;
    engine.decomp();
    EXPECT_EQ(engine.S, 1);
    EXPECT_EQ(Ints(engine.Nfact.begin() + 1, engine.Nfact.end()), row.factors) << row.S;
    EXPECT_EQ(Ints(engine.Nexpo.begin() + 1, engine.Nexpo.end()), row.exponents) << row.S;

    arith::PrimeTable fresh;
    reference::DivisorEngine calc(fresh);
    calc.S = row.S;
    calc.N = static_cast<Int64>(row.sigma);
    calc.calcul();
    EXPECT_EQ(calc.S, row.S);
    EXPECT_EQ(static_cast<unsigned long long>(calc.SN), row.sigma) << row.S;
    EXPECT_EQ(calc.ns, 1);
    EXPECT_EQ(calc.nf, static_cast<common::Int32>(row.factors.size()));
    EXPECT_EQ(calc.Nfact.size(), 1u);
    EXPECT_EQ(calc.Nexpo.size(), 1u);
    EXPECT_EQ(Ints(fresh.Nprem.begin() + 1, fresh.Nprem.end()), row.tableAfter) << row.S;
  }
}

TEST(DivisorEngine, ExactBeyondDoublePrecision) {
  arith::PrimeTable table;
  reference::DivisorEngine engine(table);
  engine.S = 2000000042;  // 2 * 1000000021
  engine.calcul();
  EXPECT_EQ(static_cast<unsigned long long>(engine.SN), 3000000066ULL);
  // The square of a prime is divided by it, not taken as a prime itself.
  engine.S = 1000003LL * 1000003LL;
  engine.calcul();
  EXPECT_EQ(engine.nf, 1);
  EXPECT_EQ(static_cast<unsigned long long>(engine.SN), 1ULL + 1000003ULL + 1000003ULL * 1000003ULL);
}

TEST(DivisorEngine, MatchCountsByTrialDivision) {
  arith::PrimeTable table;
  reference::DivisorEngine engine(table);
  EXPECT_EQ(engine.countByTrialDivision(12), 2);  // 6 and 11
  EXPECT_EQ(engine.countByTrialDivision(24), 3);  // 14, 15 and 23
  EXPECT_EQ(engine.countByTrialDivision(72), 5);  // 30, 46, 51, 55 and 71
  EXPECT_EQ(engine.countByTrialDivision(5), 0);
  EXPECT_EQ(engine.countByTrialDivision(2), 0);
  EXPECT_EQ(engine.countByTrialDivision(1), 1);
  EXPECT_EQ(engine.countByTrialDivision(0), 0);
}

}  // namespace
