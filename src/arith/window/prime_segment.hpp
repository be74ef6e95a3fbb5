// The primes of a short interval [a, b] of large numbers: a sieve of
// Eratosthenes on a wheel of 30, a byte for each thirty numbers (a bit for
// each of the eight prime to 30), by the primes from 7 up to the square root
// of b, taken from the prime table; the bits are then spread out to one for
// each odd number, which is what the sums read. A prime p crosses only its
// multiples p q with q prime to 30, eight in every thirty q, where a sieve of
// the odd numbers crosses ten; and a segment's bytes take half the cache
// of its odd numbers' bits, so that every prime visits each number's cache
// line half as often. The multiples of the primes up to 47 come at once from
// four patterns of bytes that repeat every few thousand bytes. A prime whose
// step may pass a segment (near 2^44, a third of those up to the square root)
// meets a segment at most once a step: it waits in the bucket of the segment
// it meets next (T. Oliveira e Silva's bucket sieve), instead of a visit per
// segment.
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
  // Numbers sieved at once: their bytes (546 KiB) stay in a core's L2 cache.
  // Each prime up to the square root costs a visit per segment, crossing or
  // not (near 2^40 they number 82,000): in rows of sixteen segments near
  // 2^43, segments of 2^24 numbers took 0.87 x the time a number of 2^23,
  // and 2^22 1.17 x.
  static constexpr std::uint64_t kSpan = std::uint64_t{1} << 24;

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
  // Which numbers 30 j + r (r prime to 30) are prime to a few small primes,
  // repeating every `period` bytes (their product).
  struct Pattern {
    Pattern(std::initializer_list<std::uint64_t> list);
    std::vector<std::uint64_t> primes;
    std::uint64_t period = 1;
    std::vector<std::uint8_t> bytes;  // byte j: the numbers 30 j + r prime to the primes
  };
  // A multiple still to cross: the byte of p q past the segment's base and
  // the place of q modulo 30 among the eight residues.
  struct Multiple {
    std::uint32_t byte;
    std::uint32_t wheel;
  };
  // Sieves the bytes of [base_, last_] and spreads them to bits_; the primes
  // from index `known` on start by a division.
  void sieveBytes(std::span<const common::Int64> primes, std::size_t known);
  // Fills the segment's bytes from the patterns.
  void startBytes();
  // Crosses the multiples of the primes above the patterns' up to the square
  // root, or to kLargePrime; the primes from index `known` on start by a division.
  void crossMultiples(std::span<const common::Int64> primes, std::uint64_t root, std::size_t known);
  // Crosses the multiples of p below byte `to` from `next`, leaving there
  // the first one past it: one at a time, or a turn of the wheel at a time.
  void crossTo(std::uint64_t p, Multiple& next, std::uint64_t to);
  void crossTurns(std::uint64_t p, Multiple& next, std::uint64_t to);
  // Crosses the multiples of the primes above kLargePrime up to the square
  // root, from their buckets; those not met yet start by a division.
  void crossLarge(std::span<const common::Int64> primes, std::uint64_t root);
  // Files the multiple `offset` numbers past the row's first number, its
  // prime p and the place of its q among the residues, in its segment's bucket.
  void schedule(std::uint64_t offset, std::uint32_t pWheel) {
    const std::uint64_t segment = offset / kSpan;
    if (segment < kBuckets) buckets_[segment].push_back({static_cast<std::uint32_t>(offset), pWheel});
  }
  // The bytes spread to one bit an odd number, [firstOdd_, last_], with the
  // primes 3, 5 and the patterns' set again, and 1 cleared.
  void spreadBits();

  // The least multiple p q >= from with q >= p prime to 30, from a division.
  static Multiple firstMultiple(std::uint64_t p, std::uint64_t from, std::uint64_t base);

  // The primes up to kLargePrime step at most 6 p <= kSpan: they meet every
  // segment, and cross it in place.
  static constexpr std::uint64_t kLargePrime = kSpan / 6;
  // The primes up to kSmallPrime cross a piece of kPieceBytes (32 KiB) at a
  // time, which stays in the L1 cache: they make most of the crossings.
  static constexpr std::uint64_t kPieceBytes = std::uint64_t{1} << 15;
  static constexpr std::uint64_t kSmallPrime = std::uint64_t{1} << 14;
  // A bucket's multiple, counted from the row's first number, and a large
  // prime with its residue place, are kept in 32 bits: a row spans kBuckets
  // segments, and p stays below 2^26 (the square root of the window's ceiling).
  static constexpr std::uint64_t kBuckets = 128;
  static_assert(kBuckets * kSpan + 6 * (std::uint64_t{1} << 26) < (std::uint64_t{1} << 32));
  static_assert(6 * (std::uint64_t{1} << 26) < kBuckets * kSpan);
  struct Hit {
    std::uint32_t offset;  // the multiple's number less the row's first
    std::uint32_t pWheel;  // p * 8 + the place of q among the residues
  };

  // Each period stays within a few cache pages: 1001, 7429, 33263 and 84001 bytes.
  std::array<Pattern, 4> patterns_{Pattern{7, 11, 13}, Pattern{17, 19, 23}, Pattern{29, 31, 37},
                                   Pattern{41, 43, 47}};
  std::vector<std::uint8_t> bytes_;  // byte j: the numbers base_ + 30 j + r, r prime to 30
  std::vector<std::uint64_t> bits_;  // bit i: whether firstOdd_ + 2i is prime
  // For the i-th prime of the table above the patterns', up to next_.size(),
  // its next multiple past the segment's bytes, counted from base_ (sieveNext
  // moves it to the next segment's base).
  std::vector<Multiple> next_;
  std::array<std::vector<Hit>, kBuckets> buckets_;  // by segment of the row
  std::uint64_t segment_ = 0;                       // the segment's place in its row
  std::size_t largeNext_ = 0;                       // the first large prime not met yet (0: none found)
  std::uint64_t rowFirst_ = 1;                      // the first number of the row
  std::uint64_t first_ = 1;                         // the segment [first_, last_]
  std::uint64_t last_ = 0;
  std::uint64_t base_ = 0;      // the multiple of 30 where the segment's bytes start
  std::uint8_t shared_ = 0xff;  // the last byte of the segment before, when this one's first shares it
  std::uint64_t firstOdd_ = 1;
  bool hasTwo_ = false;
};

}  // namespace arith
