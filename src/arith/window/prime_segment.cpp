#include "arith/window/prime_segment.hpp"

#include <algorithm>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

PrimeSegment::Pattern::Pattern(std::initializer_list<std::uint64_t> list) : primes(list) {
  for (const std::uint64_t p : primes) period *= p;
  // Long enough that 64 bits can be read from any q below the period.
  bits.assign((period + 64) / 64 + 1, 0);
  for (std::uint64_t q = 0; q < 64 * bits.size(); ++q) {
    const std::uint64_t n = 2 * (q % period) + 1;
    if (std::ranges::none_of(primes, [n](std::uint64_t p) { return n % p == 0; }))
      bits[q / 64] |= std::uint64_t{1} << (q % 64);
  }
}

void PrimeSegment::sieve(std::span<const common::Int64> primes, std::uint64_t a, std::uint64_t b) {
  SIGMA_ASSERT(a <= b && b - a < kSpan);
  hasTwo_ = a <= 2 && 2 <= b;
  firstOdd_ = a | 1;
  bits_.clear();
  if (firstOdd_ > b) return;
  const std::uint64_t odds = (b - firstOdd_) / 2 + 1;
  bits_.resize((odds + 63) / 64);
  std::uint64_t q = (firstOdd_ / 2) % small_.period;
  std::uint64_t r = (firstOdd_ / 2) % next_.period;
  for (std::uint64_t& word : bits_) {
    word = small_.at(q) & next_.at(r);
    q += 64;
    r += 64;
    if (q >= small_.period) q -= small_.period;
    if (r >= next_.period) r -= next_.period;
  }
  if (odds % 64 != 0) bits_.back() &= (std::uint64_t{1} << (odds % 64)) - 1;
  if (firstOdd_ == 1) bits_[0] &= ~std::uint64_t{1};  // 1 is not prime
  markPatternPrimes(b);
  const std::uint64_t root = isqrt(b);
  SIGMA_ASSERT(static_cast<std::uint64_t>(primes.back()) > root);
  for (std::size_t i = 1; i < primes.size(); ++i) {  // the odd primes
    const auto p = static_cast<std::uint64_t>(primes[i]);
    if (p <= next_.primes.back()) continue;  // crossed by the patterns
    if (p > root) break;
    // The first odd multiple of p in the segment, and not p itself.
    std::uint64_t m = std::max(p * p, (firstOdd_ + p - 1) / p * p);
    if ((m & 1) == 0) m += p;
    for (std::uint64_t j = (m - firstOdd_) / 2; j < odds; j += p)
      bits_[j / 64] &= ~(std::uint64_t{1} << (j % 64));
  }
}

void PrimeSegment::markPatternPrimes(std::uint64_t b) {
  for (const Pattern* pattern : {&small_, &next_}) {
    for (const std::uint64_t p : pattern->primes) {
      if (p >= firstOdd_ && p <= b)
        bits_[(p - firstOdd_) / 128] |= std::uint64_t{1} << ((p - firstOdd_) / 2 % 64);
    }
  }
}

}  // namespace arith
