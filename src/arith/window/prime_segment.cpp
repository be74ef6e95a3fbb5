#include "arith/window/prime_segment.hpp"

#include <algorithm>

#include "arith/wide.hpp"
#include "common/check.hpp"

namespace arith {

void PrimeSegment::sieve(const std::vector<common::Int64>& primes, std::uint64_t a, std::uint64_t b) {
  SIGMA_ASSERT(a <= b && b - a < kSpan);
  hasTwo_ = a <= 2 && 2 <= b;
  firstOdd_ = a | 1;
  bits_.clear();
  if (firstOdd_ > b) return;
  const std::uint64_t odds = (b - firstOdd_) / 2 + 1;
  bits_.assign((odds + 63) / 64, ~std::uint64_t{0});
  if (odds % 64 != 0) bits_.back() = (std::uint64_t{1} << (odds % 64)) - 1;
  if (firstOdd_ == 1) bits_[0] &= ~std::uint64_t{1};  // 1 is not prime
  const std::uint64_t root = isqrt(b);
  SIGMA_ASSERT(static_cast<std::uint64_t>(primes.back()) > root);
  for (std::size_t i = 2; i < primes.size(); ++i) {
    const auto p = static_cast<std::uint64_t>(primes[i]);
    if (p > root) break;
    // The first odd multiple of p in the segment, and not p itself.
    std::uint64_t m = std::max(p * p, (firstOdd_ + p - 1) / p * p);
    if ((m & 1) == 0) m += p;
    for (std::uint64_t j = (m - firstOdd_) / 2; j < odds; j += p)
      bits_[j / 64] &= ~(std::uint64_t{1} << (j % 64));
  }
}

}  // namespace arith
