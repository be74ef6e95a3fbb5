// The odd primes of [first, top), kept for a whole calculation. A window
// block near X sieves its long intervals near X / s for every small sigma s,
// so the numbers below X / 64 come back in the union of block after block
// (near 2^40 a quarter of each union; over [1, 2^40] a third of all the
// numbers sieved). Kept once sieved, they are read by every later block:
// the bitmap grows as the blocks rise, each number sieved once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "arith/blocks/zeroed_pages.hpp"
#include "arith/window/odd_prime_bits.hpp"
#include "arith/window/prime_segment.hpp"
#include "common/widths.hpp"

namespace arith {

class LowPrimes {
 public:
  // The bytes that keep the odd numbers of `numbers` numbers.
  static constexpr std::uint64_t bytesFor(std::uint64_t numbers) { return numbers / 16; }

  // Starts a calculation's bitmap at `first` (rounded down to a segment), in
  // at most `bytes`, and below `most`; none when that leaves no segment.
  void start(std::uint64_t first, std::uint64_t most, std::uint64_t bytes);
  void release();
  bool started() const { return pages_ != nullptr; }

  // Extends the bitmap up to `upTo` (a segment's first number at most), as
  // far as it may grow. The numbers it adds are sieved by sieveShared,
  // which every thread of the block runs before the bitmap is read.
  void reach(std::uint64_t upTo);
  // One thread's share of the numbers reach added: chunks of segments claimed
  // in turn; `poll` throws once the calculation is stopped.
  void sieveShared(std::span<const common::Int64> primes, const std::function<void()>& poll);

  // The bitmap holds [first(), top()) once sieveShared has run.
  std::uint64_t first() const { return first_; }
  std::uint64_t top() const { return top_; }
  // Word j holds the odd numbers of [first + 128 j, first + 128 (j + 1)).
  const std::uint64_t* words() const { return pages_->words(); }
  // The primes of [a, b], within [first, top), a - first a multiple of 128.
  OddPrimeBits bits(std::uint64_t a, std::uint64_t b) const;

 private:
  static constexpr std::uint64_t kChunk = 16 * PrimeSegment::kSpan;  // sieved in a row by one thread
  // The first number of the segment that holds n.
  static constexpr std::uint64_t segmentOf(std::uint64_t n) {
    return n / PrimeSegment::kSpan * PrimeSegment::kSpan;
  }
  static_assert(PrimeSegment::kSpan % 128 == 0, "a segment fills whole words");
  std::unique_ptr<ZeroedPages> pages_;
  std::uint64_t first_ = 0;
  std::uint64_t limit_ = 0;   // the most it may reach
  std::uint64_t top_ = 0;     // what it holds once the last extension is sieved
  std::uint64_t sieved_ = 0;  // what it held before that extension
  std::size_t chunks_ = 0;    // the last extension's chunks, from sieved_ on
  std::atomic<std::size_t> nextChunk_{0};
  std::atomic<std::size_t> chunksDone_{0};
};

}  // namespace arith
