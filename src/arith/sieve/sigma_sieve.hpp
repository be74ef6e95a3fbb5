// A segmented sieve of the divisor sum: sigma(m) for every m of a range, or of
// one residue class modulo 6 in a range, a cache-sized segment at a time,
// with no division but one per number: the segmented sieve of Eratosthenes
// (as in T. Oliveira e Silva, S. Herzog, S. Pardi, "Empirical verification of
// the even Goldbach conjecture", Math. Comp. 83 (2014)) turned to a
// multiplicative function.
//
// For each odd prime p up to the square root of the range's end, and each
// power p^k, the multiples of p^k whose cofactor is prime to p have exactly
// p^k in them: their sigma takes the factor sigma(p^k), and the product of
// the prime powers found so far takes p^k. The power of 2 comes from the
// count of trailing zero bits. What the small primes leave over is 1 or a
// single prime q above the square root, which brings the factor q + 1.
//
// In a residue class m = r + 6i the sieve runs over the index i: the
// multiples of p^k (p >= 5) come every p^k indices, those of 3^k every
// 3^(k-1) indices when 3 divides r, and none when it does not.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "arith/blocks/sum_source.hpp"
#include "common/widths.hpp"

namespace arith {

class SigmaSieve {
 public:
  static constexpr std::uint64_t kSegment = std::uint64_t{1} << 15;
  static_assert(kSegment * 2 * sizeof(std::uint64_t) <= kSourceBytesPerThread,
                "a block's memory counts the segment");
  // Above this the cofactor division below is no longer exact in double precision.
  static constexpr std::uint64_t kCeiling = std::uint64_t{1} << 52;

  // `primes` (2, 3, 5, ...) must hold every prime up to the square root of the end of any range.
  explicit SigmaSieve(std::span<const common::Int64> primes);
  // Also starts on the range [lo, hi).
  SigmaSieve(std::span<const common::Int64> primes, std::uint64_t lo, std::uint64_t hi);

  // Starts on the m of [lo, hi) with m = residue (mod step), step 1 or 6,
  // 1 <= lo <= hi <= kCeiling, keeping the buffers.
  void start(std::uint64_t lo, std::uint64_t hi, std::uint64_t residue = 0, std::uint64_t step = 1);

  // sigma of the next segment of the range's numbers, in increasing order;
  // empty at the end. The span lives until the next call.
  std::span<const std::uint64_t> next();
  // The number the next segment starts with.
  std::uint64_t nextNumber() const { return residue_ + step_ * cursor_; }

 private:
  struct Stride {
    std::uint64_t sigma;   // sigma(p^k)
    double powerAsDouble;  // p^k again, exact
    std::uint64_t next;    // the index of the next multiple of p^k to visit
    std::uint64_t step;    // indices between two multiples of p^k
    std::uint32_t prime;   // p
    std::uint32_t phase;   // (m / p^k) mod p at `next`: 0 when p^(k+1) divides m
    std::uint32_t phaseStep;
  };
  // The multiples of one p^k whose cofactor is prime to p, every `step` indices.
  struct ExactStride {
    std::uint64_t sigma;  // sigma(p^k)
    double powerAsDouble;
    std::uint64_t next;
    std::uint64_t step;
  };
  // Primes up to this get exact strides (their loops are the densest).
  static constexpr std::uint64_t kSplitUpTo = 31;

  void addStrides(std::uint64_t p, std::uint64_t top);
  void split(const Stride& stride);
  void startSegment(std::uint64_t first, std::size_t size);
  void applyStrides(std::uint64_t lo, std::size_t size);
  void finishSegment(std::uint64_t first, std::size_t size);

  std::span<const common::Int64> primes_;
  std::vector<Stride> strides_;
  std::vector<ExactStride> exact_;
  std::vector<std::uint64_t> sigma_;
  std::vector<double> found_;  // product of the prime powers found, exact below 2^52
  std::uint64_t residue_ = 0;  // the numbers are residue + step * index
  std::uint64_t step_ = 1;
  std::uint64_t cursor_ = 0;  // index of the next segment's first number
  std::uint64_t end_ = 0;     // one past the last index
};

}  // namespace arith
