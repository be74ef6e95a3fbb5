// The primes of a short interval [a, b] of large numbers: a sieve of
// Eratosthenes over its odd numbers by the odd primes up to the square root
// of b, taken from the prime table. The multiples of the primes up to 47,
// more than half of all the crossings, come at once from four patterns that
// repeat every few thousand odd numbers; past them, a prime crosses only its
// multiples p q with q prime to 3, two thirds of its odd ones. A prime whose
// step passes a segment (near 2^44, 240,000 of the 295,000 up to the square
// root) meets a segment at most once a class: it waits in the bucket of the
// segment it meets next (T. Oliveira e Silva's bucket sieve), instead of a
// visit per segment.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "arith/window/odd_prime_bits.hpp"
#include "common/check.hpp"
#include "common/widths.hpp"

namespace arith {

class PrimeSegment {
 public:
  // Numbers sieved at once: their bits (256 KiB) stay in a core's L2 cache.
  // Each prime up to the square root costs a visit per segment, crossing or
  // not, and near 2^40 they number 82,000: near 2^40 segments of 2^22 took
  // a fifth less time a block than the L1-sized 2^19, and 2^23 no less.
  static constexpr std::uint64_t kSpan = std::uint64_t{1} << 22;

  // Sieves [a, b], b - a < kSpan; `primes` (2, 3, 5, ...) must hold every
  // prime up to the square root of b.
  void sieve(std::span<const common::Int64> primes, std::uint64_t a, std::uint64_t b);
  // Sieves the segment that follows a full one (kSpan numbers) sieved last,
  // up to b: each prime's next multiple carries over, without a division.
  void sieveNext(std::span<const common::Int64> primes, std::uint64_t b);

  // The bits of the odd numbers of the segment sieved last: bit i tells
  // whether (a | 1) + 2i is prime; empty when the segment is one even number.
  std::span<const std::uint64_t> words() const { return bits_; }

  // The primes of the segment sieved last, [a, b].
  OddPrimeBits view() const { return {bits_, firstOdd_, hasTwo_}; }

 private:
  // Which odd numbers are prime to a few small primes, repeating every
  // `period` odd numbers (their product).
  struct Pattern {
    Pattern(std::initializer_list<std::uint64_t> list);
    // 64 bits from the odd number 2q + 1 on, q < period.
    std::uint64_t at(std::uint64_t q) const {
      const std::uint64_t shift = q % 64;
      const std::uint64_t low = bits[q / 64] >> shift;
      return shift == 0 ? low : low | bits[q / 64 + 1] << (64 - shift);
    }
    std::vector<std::uint64_t> primes;
    std::uint64_t period = 1;
    std::vector<std::uint64_t> bits;  // bit q: whether 2q + 1 is prime to the primes
  };
  // Sieves the odd numbers of [firstOdd_, b], none when firstOdd_ > b; the
  // primes from index `known` on start by a division.
  void sieveOdds(std::span<const common::Int64> primes, std::uint64_t b, std::size_t known);
  // The patterns' primes are prime: their bits, cleared by the patterns, set again.
  void markPatternPrimes(std::uint64_t b);
  // Fills the bits of [firstOdd_, b] from the patterns.
  void startBits(std::uint64_t b);
  // Crosses the multiples of the odd primes above the patterns' up to the
  // square root of b, or to kLargePrime; the primes from index `known` on
  // start by a division.
  void crossMultiples(std::span<const common::Int64> primes, std::uint64_t b, std::size_t known);
  // Marks the odd number at `bit` composite.
  void cross(std::uint64_t bit) { bits_[bit / 64] &= ~(std::uint64_t{1} << (bit % 64)); }
  // Crosses the multiples p q of p below bit `to` from next[0] (q = 1 modulo 6)
  // and next[1] (q = 5), leaving there the first ones past it.
  void crossTo(std::uint64_t p, std::uint32_t* next, std::uint64_t to);
  // Crosses the multiples of the primes above kLargePrime up to the square
  // root of b, from their buckets; those not met yet start by a division.
  void crossLarge(std::span<const common::Int64> primes, std::uint64_t b);
  // Files the multiple `bit` bits past the segment's first odd number in the bucket of its segment.
  void schedule(std::uint64_t bit, std::uint32_t p);

  // Odd numbers in a full segment; the primes past kLargePrime step past it.
  static constexpr std::uint64_t kOdds = kSpan / 2;
  static constexpr std::uint64_t kLargePrime = kOdds / 3;
  // The primes up to kSmallPrime cross a piece of kPieceBits bits (32 KiB)
  // at a time, which stays in the L1 cache: they make most of the crossings.
  static constexpr std::uint64_t kPieceBits = std::uint64_t{1} << 18;
  static constexpr std::uint64_t kSmallPrime = std::uint64_t{1} << 13;
  // A next multiple, up to a step past the segment, is kept in 32 bits.
  static_assert(kOdds + 3 * kLargePrime < (std::uint64_t{1} << 32));
  // A multiple to cross: its bit in its segment, and its prime.
  struct Hit {
    std::uint32_t bit;
    std::uint32_t p;
  };
  // Segments in a row with a bucket each, reused in turn: a step of 3 p bits
  // (p below 2^26, the square root of the window's ceiling) stays within them.
  static constexpr std::uint64_t kBuckets = 128;
  static_assert(3 * (std::uint64_t{1} << 26) < kBuckets * kOdds);

  // Each period stays within a few cache pages: 15015, 7429, 33263 and 84001 odd numbers.
  std::array<Pattern, 4> patterns_{Pattern{3, 5, 7, 11, 13}, Pattern{17, 19, 23}, Pattern{29, 31, 37},
                                   Pattern{41, 43, 47}};
  std::vector<std::uint64_t> bits_;  // bit i: whether firstOdd_ + 2i is prime
  // For the i-th prime of the table, at 2 i and 2 i + 1, the bits of its next
  // multiples p q past the segment, q = 1 and q = 5 modulo 6, counted from the
  // segment's end; for the primes 0 .. next_.size() / 2 - 1.
  std::vector<std::uint32_t> next_;
  std::array<std::vector<Hit>, kBuckets> buckets_;  // by segment of the row, modulo kBuckets
  std::uint64_t segment_ = 0;                       // the segment's place in its row
  std::size_t largeNext_ = 0;                       // the first large prime not met yet (0: none found)
  std::uint64_t first_ = 1;                         // the segment [first_, last_]
  std::uint64_t last_ = 0;
  std::uint64_t firstOdd_ = 1;
  bool hasTwo_ = false;
};

}  // namespace arith
