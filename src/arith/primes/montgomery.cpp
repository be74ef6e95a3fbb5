#include "arith/primes/montgomery.hpp"

#include "arith/primes/exact_division.hpp"
#include "common/check.hpp"

namespace arith {

Montgomery::Montgomery(std::uint64_t modulus) : n_(modulus) {
  SIGMA_ASSERT((modulus & 1) == 1 && modulus > 1);
  inverse_ = inverseMod64(modulus);
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

}  // namespace arith
