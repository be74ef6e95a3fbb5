// Arithmetic modulo an odd 64-bit number in Montgomery form: products without
// a 128-bit division, for the primality test and Pollard's rho.
#pragma once

#include <cstdint>

#include "arith/primes/wide.hpp"

namespace arith {

class Montgomery {
 public:
  explicit Montgomery(std::uint64_t modulus);  // modulus odd, above 1

  std::uint64_t toForm(std::uint64_t a) const { return mul(a % n_, r2_); }
  std::uint64_t fromForm(std::uint64_t a) const { return reduce(a); }
  std::uint64_t one() const { return one_; }
  std::uint64_t modulus() const { return n_; }

  // Product of two numbers in Montgomery form, in Montgomery form.
  std::uint64_t mul(std::uint64_t a, std::uint64_t b) const { return reduce(static_cast<Uint128>(a) * b); }
  // a + b mod n for a, b < n, without a branch: in Pollard's rho the
  // reduction is taken half the time, at random.
  std::uint64_t add(std::uint64_t a, std::uint64_t b) const {
    const std::uint64_t room = n_ - b;  // a + b >= n iff a >= room
    return a >= room ? a - room : a + b;
  }
  std::uint64_t pow(std::uint64_t base, std::uint64_t exponent) const;

 private:
  // t * 2^-64 mod n, for t < n * 2^64.
  std::uint64_t reduce(Uint128 t) const {
    const std::uint64_t m = static_cast<std::uint64_t>(t) * inverse_;
    const auto high = static_cast<std::uint64_t>(t >> 64);
    const auto mnHigh = static_cast<std::uint64_t>((static_cast<Uint128>(m) * n_) >> 64);
    // The low halves of t and m * n are equal, so only the high halves differ.
    return high < mnHigh ? high - mnHigh + n_ : high - mnHigh;
  }

  std::uint64_t n_;
  std::uint64_t inverse_;  // n^-1 mod 2^64
  std::uint64_t r2_;       // 2^128 mod n
  std::uint64_t one_;      // 2^64 mod n
};

}  // namespace arith
