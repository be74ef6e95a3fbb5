// Inversion of the divisor sum, one value at a time: how many m have
// sigma(m) == N, without looking at any m.
//
// sigma is multiplicative, so m = p1^k1 ... pr^kr with distinct primes has
// sigma(m) = sigma(p1^k1) ... sigma(pr^kr). Each factor sigma(p^k) is a
// divisor of N; the method lists the divisors d of N, finds every prime power
// with sigma(p^k) = d, and counts the ways to write N as a product of such
// factors with distinct primes (a 0/1 knapsack over the divisors of N), the
// method of M. Contini, E. Croot, I. Shparlinski, "Complexity of inverting the
// Euler function", Math. Comp. 75 (2006), which serves sigma as well.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "arith/inversion/factorizer.hpp"
#include "common/widths.hpp"

namespace arith {

// Every sigma(p^k) below 2^63 with k >= 3, sorted: p is then at most 2^21,
// so they are few (about half a million) and made once.
class HighPowerSums {
 public:
  explicit HighPowerSums(PrimeTable& table);
  // Calls found(p) for every prime p and k >= 3 with sigma(p^k) == d.
  template <class Found>
  void find(std::uint64_t d, const Found& found) const {
    // Nearly every d is no such sum: one bit of a hashed filter says so.
    const std::uint64_t bit = hash(d);
    if ((filter_[bit / 64] >> (bit % 64) & 1) == 0) return;
    auto it = std::lower_bound(sums_.begin(), sums_.end(), std::pair<std::uint64_t, std::uint64_t>{d, 0});
    for (; it != sums_.end() && it->first == d; ++it) found(it->second);
  }

 private:
  static constexpr unsigned kFilterBits = 23;  // 8 Mbit for about half a million sums: 6 % of the bits set
  static std::uint64_t hash(std::uint64_t d) { return (d * 0x9E3779B97F4A7C15ULL) >> (64 - kFilterBits); }

  std::vector<std::pair<std::uint64_t, std::uint64_t>> sums_;  // (sigma(p^k), p)
  std::vector<std::uint64_t> filter_;
};

class SigmaInverse {
 public:
  struct Factor {
    std::uint64_t prime;
    std::size_t divisor;  // the index of sigma(prime^k) among the divisors of N
  };
  // One digit per distinct prime of N: at most 15 below 2^63.
  using Digits = std::array<std::size_t, 64>;

  SigmaInverse(const Factorizer& factorizer, const HighPowerSums& highPowerSums);

  // The number of m >= 1 with sigma(m) == N, for any N from 1 to 2^63 - 1.
  common::Count count(std::uint64_t N);
  // The same, with N's factorization given (primes in increasing order).
  common::Count count(std::uint64_t N, std::span<const PrimePower> primes);

  // Lists the divisors of N (N > 1) and every prime power whose sigma is one
  // of them, for count() and for the walk over the preimages themselves.
  void prepare(std::uint64_t N, std::span<const PrimePower> primes);
  // After prepare(): the divisors in mixed-radix order, N's exponents and
  // the radix strides, and the factors sorted by prime.
  const std::vector<std::uint64_t>& divisors() const { return divisors_; }
  const std::vector<int>& exponents() const { return exponents_; }
  const std::vector<std::size_t>& strides() const { return strides_; }
  const std::vector<Factor>& factors() const { return factors_; }
  // The digits of the divisor at `index`, and of N / that divisor.
  Digits digitsOf(std::size_t index) const;
  Digits cofactorDigits(std::size_t index) const;

  // Calls visit(i) for the index i of every divisor whose digits all stay
  // within `limits`: the divisors of the number with those digits.
  template <class Visit>
  void forEachWithin(const Digits& limits, const Visit& visit) const {
    const std::size_t r = exponents_.size();
    Digits digits = {};
    std::size_t m = 0;
    for (;;) {
      visit(m);
      std::size_t i = 0;
      while (i < r && digits[i] == limits[i]) {
        m -= digits[i] * strides_[i];
        digits[i] = 0;
        ++i;
      }
      if (i == r) return;
      ++digits[i];
      m += strides_[i];
    }
  }

 private:
  void listFactors(std::size_t index);
  void addMultiples(std::size_t index);
  void addMultiplesInPlace(std::size_t index);

  const Factorizer& factorizer_;
  const HighPowerSums& highPowerSums_;
  // Scratch kept between calls to spare allocations.
  // The divisors of N = q1^e1 ... qr^er in mixed-radix order: the divisor
  // q1^a1 ... qr^ar sits at a1 * stride1 + ... + ar * strider, so products
  // and quotients of divisors are sums and differences of indices.
  std::vector<std::uint64_t> divisors_;
  std::vector<int> exponents_;
  std::vector<std::size_t> strides_;
  std::vector<std::pair<std::size_t, std::uint64_t>> additions_;
  std::vector<Factor> factors_;
  std::vector<std::uint64_t> ways_;
};

}  // namespace arith
