// Factorization of any 64-bit number: trial division by the small primes of
// the table, then Miller-Rabin and Pollard-Brent for what remains.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "arith/prime_table.hpp"

namespace arith {

struct PrimePower {
  std::uint64_t prime;
  int exponent;
};

class Factorizer {
 public:
  static constexpr std::uint64_t kTrialLimit = 4096;

  // Takes the odd primes below kTrialLimit from the table, growing it if needed.
  explicit Factorizer(PrimeTable& table);

  // The prime factors of n (n >= 1) in increasing order, with their exponents.
  std::vector<PrimePower> factorize(std::uint64_t n) const;

  // Exact primality, cheap for numbers with a small factor.
  bool isPrime(std::uint64_t n) const;

 private:
  struct TrialPrime {
    std::uint64_t prime;
    std::uint64_t inverse;  // prime^-1 mod 2^64
    std::uint64_t limit;    // n is a multiple of prime iff n * inverse <= limit
  };
  bool divides(const TrialPrime& t, std::uint64_t n) const { return n * t.inverse <= t.limit; }
  void splitLarge(std::uint64_t n, std::vector<std::uint64_t>& primes) const;

  std::vector<TrialPrime> trial_;
};

// A non-trivial factor of the odd composite n.
std::uint64_t pollardBrent(std::uint64_t n);

}  // namespace arith
