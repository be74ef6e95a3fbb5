// Inversion of the divisor sum, one value at a time: how many m have
// sigma(m) == N, without looking at any m.
//
// sigma is multiplicative, so m = p1^k1 ... pr^kr with distinct primes has
// sigma(m) = sigma(p1^k1) ... sigma(pr^kr). Each factor sigma(p^k) is a
// divisor of N; the method lists the divisors d of N, finds every prime power
// with sigma(p^k) = d, and counts the ways to write N as a product of such
// factors with distinct primes (a 0/1 knapsack over the divisors of N).
#pragma once

#include <cstdint>
#include <vector>

#include "arith/factorizer.hpp"
#include "common/widths.hpp"

namespace arith {

class SigmaInverse {
 public:
  explicit SigmaInverse(const Factorizer& factorizer);

  // The number of m >= 1 with sigma(m) == N, for any N from 1 to 2^63 - 1.
  common::Count count(std::uint64_t N);

 private:
  struct Factor {
    std::uint64_t prime;
    std::uint64_t sigma;  // sigma(prime^k), a divisor of N
  };
  void listFactors(std::uint64_t d);

  const Factorizer& factorizer_;
  // Scratch kept between calls to spare allocations.
  std::vector<std::uint64_t> divisors_;
  std::vector<Factor> factors_;
  std::vector<std::uint64_t> ways_;
};

}  // namespace arith
