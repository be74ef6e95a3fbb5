#include "arith/montgomery.hpp"

#include <initializer_list>

namespace arith {

Montgomery::Montgomery(std::uint64_t modulus) : n_(modulus) {
  // Newton's iteration doubles the correct low bits of the inverse each step.
  std::uint64_t inv = modulus;
  for (int k = 0; k < 5; ++k) inv *= 2 - modulus * inv;
  inverse_ = inv;
  one_ = (0 - modulus) % modulus;
  r2_ = static_cast<std::uint64_t>((static_cast<Uint128>(one_) * one_) % modulus);
}

std::uint64_t Montgomery::pow(std::uint64_t base, std::uint64_t exponent) const {
  std::uint64_t result = one_;
  while (exponent != 0) {
    if ((exponent & 1) != 0) result = mul(result, base);
    base = mul(base, base);
    exponent >>= 1;
  }
  return result;
}

bool isPrime64(std::uint64_t n) {
  if (n < 2) return false;
  for (std::uint64_t p : {2ULL, 3ULL, 5ULL, 7ULL, 11ULL, 13ULL, 17ULL, 19ULL, 23ULL, 29ULL, 31ULL, 37ULL}) {
    if (n % p == 0) return n == p;
  }
  if (n < 41ULL * 41ULL) return true;
  const Montgomery mont(n);
  std::uint64_t d = n - 1;
  int s = 0;
  while ((d & 1) == 0) {
    d >>= 1;
    ++s;
  }
  const std::uint64_t minusOne = mont.toForm(n - 1);
  // These seven bases decide primality for every n below 2^64.
  for (std::uint64_t a : {2ULL, 325ULL, 9375ULL, 28178ULL, 450775ULL, 9780504ULL, 1795265022ULL}) {
    const std::uint64_t base = a % n;
    if (base == 0) continue;
    std::uint64_t x = mont.pow(mont.toForm(base), d);
    if (x == mont.one() || x == minusOne) continue;
    bool witness = true;
    for (int r = 1; r < s && witness; ++r) {
      x = mont.mul(x, x);
      if (x == minusOne) witness = false;
    }
    if (witness) return false;
  }
  return true;
}

}  // namespace arith
