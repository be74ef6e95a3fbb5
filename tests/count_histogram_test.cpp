// The histogram of counts: dense for small counts, sparse for huge ones.
#include "arith/counts/count_histogram.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using arith::CountHistogram;
using common::Count;
using common::Int64;

std::vector<std::pair<Count, Int64>> entries(const CountHistogram& h, Count from = 0) {
  std::vector<std::pair<Count, Int64>> all;
  h.forEachFrom(from, [&](Count n, Int64 values) {
    all.emplace_back(n, values);
    return true;
  });
  return all;
}

TEST(CountHistogram, SmallAndHugeCountsInIncreasingOrderAddedAndCleared) {
  CountHistogram h;
  const Count huge = 4957364730;  // above 2^32
  h.add(huge);
  h.add(3, 5);
  h.add(0);
  h.add(CountHistogram::kDense);  // the first sparse count
  h.add(CountHistogram::kDense - 1);
  h.add(3);
  h.add(7, 0);  // no value: not a count met
  EXPECT_EQ(entries(h),
            (std::vector<std::pair<Count, Int64>>{
                {0, 1}, {3, 6}, {CountHistogram::kDense - 1, 1}, {CountHistogram::kDense, 1}, {huge, 1}}));
  EXPECT_EQ(entries(h, 4), (std::vector<std::pair<Count, Int64>>{
                               {CountHistogram::kDense - 1, 1}, {CountHistogram::kDense, 1}, {huge, 1}}));
  EXPECT_EQ(entries(h, huge + 1).size(), 0u);
  EXPECT_EQ(h[3], 6);
  EXPECT_EQ(h[7], 0);
  EXPECT_EQ(h[huge], 1);
  EXPECT_EQ(h[huge - 1], 0);
  EXPECT_EQ(h.largest(), huge);
  EXPECT_EQ(h.total(), 10);
  // Added and cleared.
  CountHistogram a;
  CountHistogram b;
  CountHistogram both;
  for (Count n : {Count{0}, Count{1}, Count{1}, Count{5000000000}}) {
    a.add(n);
    both.add(n);
  }
  for (Count n : {Count{1}, Count{2}, Count{70000}}) {
    b.add(n);
    both.add(n);
  }
  a.add(b);
  EXPECT_EQ(a, both);
  EXPECT_EQ(a.largest(), 5000000000);
  a.clear();
  EXPECT_EQ(a, CountHistogram());
  EXPECT_EQ(a.largest(), 0);
  EXPECT_EQ(entries(a).size(), 0u);
}

}  // namespace
