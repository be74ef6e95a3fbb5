// Factorization of any 64-bit number: division by the small primes of the
// table, then a primality test and Pollard-Brent for what remains; and of a
// block of consecutive numbers at once, by a sieve.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "arith/primes/primality.hpp"
#include "arith/primes/prime_table.hpp"
#include "common/check.hpp"

namespace arith {

struct PrimePower {
  std::uint64_t prime;
  int exponent;
};

class Factorizer {
 public:
  // Primes below this divide single numbers; below kSieveLimit, blocks.
  static constexpr std::uint64_t kTrialLimit = 4096;
  static constexpr std::uint64_t kSieveLimit = std::uint64_t{1} << 20;

  // Takes the odd primes below kSieveLimit from the table, growing it if needed.
  explicit Factorizer(PrimeTable& table);

  // The prime factors of n (n >= 1) in increasing order, with their exponents.
  std::vector<PrimePower> factorize(std::uint64_t n) const;
  // Appends the factors of `rest`, which has no prime factor below `bound`, in increasing order.
  void factorRest(std::uint64_t rest, std::uint64_t bound, std::vector<PrimePower>& factors) const;
  // The same for a composite `rest` of which `divisor` is a proper factor.
  void factorSplit(std::uint64_t rest, std::uint64_t divisor, std::vector<PrimePower>& factors) const;

  // Exact primality.
  bool isPrime(std::uint64_t n) const { return test_(n); }

  // The odd primes below kSieveLimit, for sieving blocks.
  std::span<const OddDivisor> sievingPrimes() const { return trial_; }

 private:
  void splitLarge(std::uint64_t n, std::vector<std::uint64_t>& primes) const;
  // Appends the primes of `large` to `factors`, in increasing order with their multiplicities.
  static void appendGrouped(std::vector<std::uint64_t>& large, std::vector<PrimePower>& factors);

  std::vector<OddDivisor> trial_;
  PrimeTest test_;
};

// The factorizations of a block of consecutive numbers, by a sieve with the
// primes below Factorizer::kSieveLimit: each number is divided by the primes
// that hit it, and what is left (1, a prime, or a product of large primes)
// goes to the one-number factorizer. A number below 2^63 has at most 15
// distinct prime factors (the product of the first 16 primes exceeds 2^64).
class BlockFactorizer {
 public:
  static constexpr std::size_t kMostFactors = 15;

  explicit BlockFactorizer(const Factorizer& factorizer) : factorizer_(factorizer) {}

  // Factors first, first + 1, ..., first + count - 1 (first >= 1, no overflow).
  void factor(std::uint64_t first, std::size_t count);
  // The factors of first + k, in increasing order of prime.
  std::span<const PrimePower> factorsOf(std::size_t k) const {
    return {factors_.data() + k * kMostFactors, used_[k]};
  }

 private:
  void add(std::size_t k, std::uint64_t prime, int exponent) {
    SIGMA_ASSERT(used_[k] < kMostFactors);
    factors_[k * kMostFactors + used_[k]++] = {prime, exponent};
  }
  std::uint64_t sieveOddPrimes(std::uint64_t first, std::size_t count);
  void finishRests(std::size_t count, std::uint64_t bound);

  const Factorizer& factorizer_;
  std::vector<std::uint64_t> rest_;
  std::vector<PrimePower> factors_;  // kMostFactors slots per number
  std::vector<std::uint8_t> used_;
  std::vector<PrimePower> scratch_;
  std::vector<std::size_t> pending_;       // the numbers whose rest is composite
  std::vector<std::uint64_t> composites_;  // their rests
  std::vector<std::uint64_t> divisors_;    // a proper factor of each
};

// A non-trivial factor of the odd composite n, by Pollard's rho with Brent's
// cycle finding (R. P. Brent, "An improved Monte Carlo factorization
// algorithm", BIT 20 (1980)). This one walk serves numbers one at a time
// (Factorizer::factorize), where the answer is wanted now; a block's many
// composites go to the lanes of rho_lanes.hpp, which interleave four walks
// for throughput and so need a loop of their own.
std::uint64_t pollardBrent(std::uint64_t n);

}  // namespace arith
