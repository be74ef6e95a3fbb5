// A segmented sieve of the divisor sum: sigma(m) for every m of a range, a
// cache-sized segment at a time, with no division but one per number.
//
// For each odd prime p up to the square root of the range's end, and each
// power p^k, the multiples of p^k whose cofactor is prime to p have exactly
// p^k in them: their sigma takes the factor sigma(p^k), and the product of
// the prime powers found so far takes p^k. The power of 2 comes from the
// count of trailing zero bits. What the small primes leave over is 1 or a
// single prime q above the square root, which brings the factor q + 1.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/widths.hpp"

namespace arith {

class SigmaSieve {
 public:
  static constexpr std::uint64_t kSegment = std::uint64_t{1} << 15;
  // Above this the cofactor division below is no longer exact in double precision.
  static constexpr std::uint64_t kCeiling = std::uint64_t{1} << 52;

  // Nprem must hold every prime up to the square root of the end of any range.
  explicit SigmaSieve(const std::vector<common::Int64>& Nprem);
  // Also starts on the range [lo, hi).
  SigmaSieve(const std::vector<common::Int64>& Nprem, std::uint64_t lo, std::uint64_t hi);

  // Starts on the range [lo, hi), 1 <= lo <= hi <= kCeiling, keeping the buffers.
  void start(std::uint64_t lo, std::uint64_t hi);

  // sigma of the next segment of the range, starting at position(); empty at
  // the end. The span lives until the next call.
  std::span<const std::uint64_t> next();
  std::uint64_t position() const { return segmentStart_; }

 private:
  struct Stride {
    std::uint64_t power;   // p^k
    std::uint64_t sigma;   // sigma(p^k)
    double powerAsDouble;  // p^k again, exact
    std::uint64_t next;    // the next multiple of p^k to visit
    std::uint32_t prime;   // p
    std::uint32_t phase;   // (next / p^k) mod p: 0 when p^(k+1) divides next
  };

  const std::vector<common::Int64>& Nprem_;
  std::vector<Stride> strides_;
  std::vector<std::uint64_t> sigma_;
  std::vector<double> found_;  // product of the prime powers found, exact below 2^52
  std::uint64_t segmentStart_ = 1;
  std::uint64_t cursor_ = 1;
  std::uint64_t hi_ = 1;
};

}  // namespace arith
