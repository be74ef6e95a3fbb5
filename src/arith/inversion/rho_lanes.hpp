// Pollard-Brent on several numbers at once. One number's rho steps form a
// chain of products, each waiting for the one before; the chains of four
// numbers interleaved keep the multiplier busy while each waits.
#pragma once

#include <cstdint>
#include <span>

namespace arith {

// divisors[k] = a factor d of composites[k] with 1 < d < composites[k]. Each
// number must be odd, composite and below 2^63.
void splitComposites(std::span<const std::uint64_t> composites, std::span<std::uint64_t> divisors);

}  // namespace arith
