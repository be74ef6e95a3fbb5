// Division by an odd number without a division instruction: an odd p has an
// inverse modulo 2^64, and n is a multiple of p exactly when n * p^-1 (mod
// 2^64) is at most (2^64 - 1) / p, the product being then the quotient
// (T. Granlund and P. Montgomery, "Division by invariant integers using
// multiplication", PLDI 1994, section 9). The sieves, the trial divisions
// and the small-prime filter of the primality test all divide this way.
#pragma once

#include <cstdint>

#include "common/check.hpp"

namespace arith {

// p^-1 modulo 2^64 for odd p: Newton's iteration x <- x (2 - p x) doubles
// the correct low bits each step, and x = p is right to 3 bits.
constexpr std::uint64_t inverseMod64(std::uint64_t p) {
  SIGMA_ASSERT((p & 1) == 1);
  std::uint64_t inverse = p;
  for (int k = 0; k < 5; ++k) inverse *= 2 - p * inverse;
  return inverse;
}
static_assert(inverseMod64(3) * 3 == 1 && inverseMod64(0xffffffffffffffc5ULL) * 0xffffffffffffffc5ULL == 1);

struct OddDivisor {
  std::uint64_t prime = 1;
  std::uint64_t inverse = 1;    // prime^-1 mod 2^64
  std::uint64_t limit = ~0ULL;  // n is a multiple of prime iff n * inverse <= limit

  static constexpr OddDivisor of(std::uint64_t p) { return {p, inverseMod64(p), ~std::uint64_t{0} / p}; }
  bool divides(std::uint64_t n) const { return n * inverse <= limit; }
  // n / prime, for a multiple n of prime.
  std::uint64_t quotient(std::uint64_t n) const { return n * inverse; }
};

}  // namespace arith
