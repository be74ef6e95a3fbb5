// Exact integer helpers: 128-bit products, integer roots.
#pragma once

#include <cmath>
#include <cstdint>

namespace arith {

// Products of two 64-bit numbers need 128 bits; __extension__ keeps -Wpedantic quiet.
__extension__ typedef unsigned __int128 Uint128;

// Largest r with r * r <= n, exact for every 64-bit n.
inline std::uint64_t isqrt(std::uint64_t n) {
  auto r = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(n)));
  // The double root may be off by one either way near 2^64; correct it exactly.
  while (r > 0 && static_cast<Uint128>(r) * r > n) --r;
  while (static_cast<Uint128>(r + 1) * (r + 1) <= n) ++r;
  return r;
}

// Largest r with r^k <= n (k >= 1), exact for every 64-bit n.
inline std::uint64_t iroot(std::uint64_t n, unsigned k) {
  if (k == 1 || n < 2) return n;
  auto powerAtMost = [n, k](std::uint64_t r) {
    Uint128 p = 1;
    for (unsigned i = 0; i < k; ++i) {
      p *= r;
      if (p > n) return false;
    }
    return true;
  };
  auto r = static_cast<std::uint64_t>(std::pow(static_cast<double>(n), 1.0 / k));
  while (r > 0 && !powerAtMost(r)) --r;
  while (powerAtMost(r + 1)) ++r;
  return r;
}

}  // namespace arith
