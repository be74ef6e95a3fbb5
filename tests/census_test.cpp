// Histograms and reports of whole calculations through the dialogue.
#include "census/dialogue/census.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "arith/divisor_arithmetic.hpp"
#include "console/console.hpp"

namespace {

using common::Int64;
using Ints = std::vector<Int64>;

// Runs one calculation on [L1, L2] without listing, and returns the histogram.
struct Calculation {
  Ints histogram;
  std::string report;
};

Calculation calculate(Int64 L1, Int64 L2, const std::string& dir = ::testing::TempDir()) {
  std::istringstream in(std::to_string(L2) + " " + std::to_string(L1) + " 0");
  std::ostringstream out;
  std::ostringstream err;
  console::Console console(in, out);
  arith::DivisorArithmetic arithmetic(2);
  census::Census census(console, arithmetic, out, err, census::ProgressLine::Style::Off, dir + "/NN.txt");
  census.calcul2();
  Ints dense(static_cast<std::size_t>(census.nsmax) + 1, 0);
  census.NN.forEach([&](common::Count n, Int64 values) { dense[static_cast<std::size_t>(n)] = values; });
  return {dense, out.str()};
}

TEST(Census, HistogramsOfKnownIntervalsAndTheirReports) {
  EXPECT_EQ(calculate(1, 12).histogram, (Ints{5, 6, 1}));
  EXPECT_EQ(calculate(12, 12).histogram, (Ints{0, 0, 1}));
  EXPECT_EQ(calculate(100, 120).histogram, (Ints{14, 3, 3, 0, 1}));
  EXPECT_EQ(calculate(1, 200).histogram, (Ints{122, 45, 20, 6, 3, 3, 1}));
  EXPECT_EQ(calculate(1, 1000).histogram, (Ints{690, 172, 64, 26, 17, 10, 5, 4, 5, 2, 3, 1, 0, 0, 0, 1}));
  const std::string report = calculate(100, 120).report;
  EXPECT_NE(report.find("Pour : 4 possibilites, il y a  1 valeurs de S dans l'intervalle  [ 100 , 120 ]."),
            std::string::npos);
  EXPECT_EQ(report.find("Pour : 3 "), std::string::npos);
  // The largest bound: nothing overflows, and one value is counted.
  const Int64 top = common::kLargestBound;
  const Calculation c = calculate(top, top);
  Int64 values = 0;
  for (Int64 v : c.histogram) values += v;
  EXPECT_EQ(values, 1);
  EXPECT_NE(c.report.find("[ 9223372036854775807 , 9223372036854775807 ]"), std::string::npos);
}

TEST(Census, MinimumAboveMaximumIsAskedAgainAndZeroRefused) {
  std::istringstream in("0 10 20 0 10 0");
  std::ostringstream out;
  std::ostringstream err;
  console::Console console(in, out);
  arith::DivisorArithmetic arithmetic(1);
  census::Census census(console, arithmetic, out, err, census::ProgressLine::Style::Off,
                        ::testing::TempDir() + "/NN.txt");
  census.calcul2();
  EXPECT_EQ(census.L2, 10);
  EXPECT_EQ(census.L1, 10);
  EXPECT_EQ(console.xn, 0);  // the zero guard is off after the bounds
}

}  // namespace

namespace {}  // namespace
