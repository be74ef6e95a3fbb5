// The primes of a short interval [a, b] of large numbers: a sieve of
// Eratosthenes over its odd numbers by the odd primes up to the square root
// of b, taken from the prime table. The multiples of 3, 5, 7, 11 and 13, two
// fifths of all the crossings, come at once from a pattern that repeats every
// 15015 odd numbers.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "common/widths.hpp"

namespace arith {

class PrimeSegment {
 public:
  // Numbers sieved at once: their bits stay in the cache.
  static constexpr std::uint64_t kSpan = std::uint64_t{1} << 19;

  PrimeSegment();

  // Sieves [a, b], b - a < kSpan; `primes` (2 at index 1) must hold every
  // prime up to the square root of b.
  void sieve(const std::vector<common::Int64>& primes, std::uint64_t a, std::uint64_t b);

  // Calls visit(p) for each prime p of [a, b], in increasing order.
  template <class Visit>
  void forEachPrime(const Visit& visit) const {
    if (hasTwo_) visit(std::uint64_t{2});
    for (std::size_t w = 0; w < bits_.size(); ++w) {
      for (std::uint64_t word = bits_[w]; word != 0; word &= word - 1) {
        visit(firstOdd_ + 2 * (64 * w + static_cast<unsigned>(std::countr_zero(word))));
      }
    }
  }

 private:
  static constexpr std::uint64_t kPeriod = 3 * 5 * 7 * 11 * 13;  // in odd numbers
  // 64 bits of the pattern from the odd number 2q + 1 on, q < kPeriod.
  std::uint64_t patternAt(std::uint64_t q) const {
    const std::uint64_t shift = q % 64;
    const std::uint64_t low = pattern_[q / 64] >> shift;
    return shift == 0 ? low : low | pattern_[q / 64 + 1] << (64 - shift);
  }

  std::vector<std::uint64_t> pattern_;  // bit q: whether 2q + 1 is prime to 3, 5, 7, 11 and 13
  std::vector<std::uint64_t> bits_;     // bit i: whether firstOdd_ + 2i is prime
  std::uint64_t firstOdd_ = 1;
  bool hasTwo_ = false;
};

}  // namespace arith
