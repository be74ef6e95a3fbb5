// The counts of [L1, L2] by one method, checked to come in order and whole.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "arith/divisor_arithmetic.hpp"

inline std::vector<common::Count> collect(arith::DivisorArithmetic& arithmetic, arith::Method method,
                                          common::Int64 L1, common::Int64 L2) {
  std::vector<common::Count> all;
  arithmetic.countWith(method, L1, L2, [&](common::Int64 first, std::span<const common::Count> counts) {
    EXPECT_EQ(first, L1 + static_cast<common::Int64>(all.size()));
    all.insert(all.end(), counts.begin(), counts.end());
  });
  EXPECT_EQ(all.size(), static_cast<std::size_t>(L2 - L1 + 1));
  return all;
}
