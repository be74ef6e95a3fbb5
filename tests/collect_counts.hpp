// Helpers shared by the tests: the counts of [L1, L2] by one method, checked
// to come in order and whole; sigma(m) from m's factors.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "arith/divisor_arithmetic.hpp"
#include "arith/inversion/factorizer.hpp"

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

inline std::uint64_t sigmaOf(const arith::Factorizer& factorizer, std::uint64_t m) {
  std::uint64_t sigma = 1;
  for (const auto& f : factorizer.factorize(m)) {
    std::uint64_t term = 1;
    for (int e = 0; e < f.exponent; ++e) term = term * f.prime + 1;
    sigma *= term;
  }
  return sigma;
}
