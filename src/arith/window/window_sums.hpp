// The divisor sums of a window of values [A, B], found from the largest prime
// factor of each m rather than from every candidate below B: the cost follows
// the window's width and the number of prefixes, not A.
//
// Every m > 1 is k p^e with p its largest prime factor and P(k) < p, and
// sigma(m) = sigma(k) sigma(p^e). For each prefix k (prefix_walk.hpp):
// - e = 1: the primes p > P(k) with sigma(k) (p + 1) in [A, B] fill an
//   interval of about (B - A) / sigma(k) numbers. A long one is cut into
//   pieces whose primes a segmented sieve finds (prime_segment.hpp); a short
//   one is tested number by number.
// - e >= 2: sigma(p^e) lies in [A / sigma(k), B / sigma(k)], and
//   p^e < sigma(p^e) <= (p + 1)^e puts p within a step of the e-th root:
//   a few candidates, tested one by one, and none at all once
//   sigma((P(k) + 1)^e) passes B / sigma(k).
// And m = 1 when A = 1.
//
// The long intervals are pieces handed to the threads first; then every thread
// walks the prefixes of depth at most two, and takes, in turn with the other
// threads, a prefix of depth two with everything below it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "arith/primality.hpp"
#include "arith/prime_table.hpp"
#include "arith/sieve/sum_source.hpp"
#include "arith/window/prefix_walk.hpp"
#include "arith/window/prime_segment.hpp"

namespace arith {

class WindowSums : public SumSource {
 public:
  // Intervals of primes at least this long are sieved; shorter ones are tested.
  static constexpr std::uint64_t kLong = 2048;
  // The most numbers one piece of a long interval holds.
  static constexpr std::uint64_t kPiece = std::uint64_t{1} << 23;
  // The highest sums the method takes: its tables grow with their square root.
  static constexpr std::uint64_t kCeiling = std::uint64_t{1} << 52;

  explicit WindowSums(PrimeTable& table) : table_(table) {}

  void prepare(std::uint64_t first, std::uint64_t last, unsigned threads) override;
  void produce(unsigned thread, const Filing& file, const ProgressSink& done) override;

 private:
  // The primes p of [low, high], each giving the sum sigma * (p + 1).
  struct Piece {
    std::uint64_t sigma;
    std::uint64_t low;
    std::uint64_t high;
  };
  class Output;

  // The t with sigma * t in the window: [low, high], empty when low > high.
  struct Factors {
    std::uint64_t low;
    std::uint64_t high;
  };
  Factors factorsOf(std::uint64_t sigma) const;
  // The least t >= P(k) + 2 of the factors: p + 1 for the smallest p of e = 1.
  static std::uint64_t lowestFactor(const Prefix& k, const Factors& factors);
  static bool isLong(const Prefix& k, const Factors& factors);
  void cutLong(const Prefix& k);
  void sievePiece(const Piece& piece, PrimeSegment& segment, Output& out) const;
  void prefixSums(const Prefix& k, Output& out) const;
  void primePowerSums(const Prefix& k, const Factors& factors, Output& out) const;
  void walkPrefixes(Output& out, const ProgressSink& done);

  PrimeTable& table_;
  PrimeTest isPrime_;
  std::uint64_t first_ = 1;
  std::uint64_t last_ = 1;
  std::vector<Piece> pieces_;
  std::atomic<std::size_t> nextPiece_{0};
  std::uint64_t claims_ = 1;  // the prefixes of depth two or less
  std::atomic<std::uint64_t> nextClaim_{0};
};

}  // namespace arith
