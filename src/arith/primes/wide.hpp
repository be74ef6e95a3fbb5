// Exact integer helpers: 128-bit products, the integer square root.
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

}  // namespace arith
