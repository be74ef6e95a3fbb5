// Where the divisor sums of a block come from. The block's counts, their
// memory and their filing (sum_filer.hpp) are the same whatever produces the
// sums: the candidates' sieve, or the walk over largest prime factors.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "arith/blocks/dense_sums.hpp"
#include "arith/counts/sinks.hpp"

namespace arith {

// The memory one thread of a source may keep while it produces a block's
// sums (a segment of candidates and their sums), counted in a block's bytes.
inline constexpr std::uint64_t kSourceBytesPerThread = (std::uint64_t{1} << 15) * 2 * sizeof(std::uint64_t);

// A filed entry: a divisor sum in its low kWeightShift bits, and in the bits
// above, how many m it stands for, less one. Sums stay far below 2^56: both
// sources stop at sums of 2^52 (sigma(m) < 8 m below it, by Robin's bound, for
// the sieve's candidates).
inline constexpr unsigned kWeightShift = 56;
inline constexpr std::uint64_t kSumMask = (std::uint64_t{1} << kWeightShift) - 1;
inline constexpr std::uint64_t kMaxWeight = std::uint64_t{1} << (64 - kWeightShift);

class SumSource {
 public:
  // Takes sums of the block's values (a sum outside the block is dropped):
  // plain sums, or weighted entries where `weighted` is true.
  using Filing = std::function<void(std::span<const std::uint64_t>, bool weighted)>;

  virtual ~SumSource() = default;
  // Before the threads start, once per block [first, last].
  virtual void prepare(std::uint64_t first, std::uint64_t last, unsigned threads) = 0;
  // After prepare, each thread: the preparation shared by the threads (none
  // unless the source has any); `poll` throws once the calculation is
  // stopped. Thread 0 tells `done` the share of the preparation done.
  virtual void prepareShared(unsigned /*thread*/, const std::function<void()>& /*poll*/,
                             const ProgressSink& /*done*/) {}
  // One thread's share of the block's sums: each m with sigma(m) in the block
  // is filed exactly once by one of the threads. Thread 0 tells `done` the
  // share of the work done, up to 0.95.
  virtual void produce(unsigned thread, const Filing& file, const ProgressSink& done) = 0;
  // Once every thread's produce has ended, each thread again: the sums that
  // need what all of them gathered (none unless the source gathers any).
  virtual void produceGathered(unsigned /*thread*/, const Filing& /*file*/) {}
  // Sums to count straight into the block, once every thread's produce has
  // ended: none unless the source keeps some back from its filing.
  virtual const DenseSums* dense() const { return nullptr; }
};

}  // namespace arith
