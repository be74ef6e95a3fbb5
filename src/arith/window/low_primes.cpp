#include "arith/window/low_primes.hpp"

#include <algorithm>

#include "common/check.hpp"

namespace arith {

void LowPrimes::start(std::uint64_t first, std::uint64_t most, std::uint64_t bytes) {
  release();
  first_ = segmentOf(first);
  const std::uint64_t room = bytes / bytesFor(PrimeSegment::kSpan) * PrimeSegment::kSpan;
  limit_ = most <= first_ ? first_ : first_ + std::min(room, segmentOf(most - first_));
  if (limit_ == first_) return;
  pages_ = std::make_unique<ZeroedPages>(bytesFor(limit_ - first_));
  top_ = sieved_ = first_;
}

void LowPrimes::release() {
  pages_.reset();
  first_ = limit_ = top_ = sieved_ = 0;
  chunks_ = 0;
  nextChunk_ = 0;
  chunksDone_ = 0;
}

void LowPrimes::reach(std::uint64_t upTo) {
  if (!started()) return;
  // An extension that a stopped block left unfinished is sieved again, from
  // where the last finished one ended.
  if (chunksDone_ == chunks_) sieved_ = top_;
  top_ = std::max(sieved_, std::min(limit_, segmentOf(upTo)));
  chunks_ = static_cast<std::size_t>((top_ - sieved_ + kChunk - 1) / kChunk);
  nextChunk_ = 0;
  chunksDone_ = 0;
}

void LowPrimes::sieveShared(std::span<const common::Int64> primes, const std::function<void()>& poll) {
  if (chunks_ == 0) return;
  PrimeSegment segment;  // its memory kept from segment to segment
  std::uint64_t* words = pages_->words();
  for (std::size_t i = nextChunk_.fetch_add(1); i < chunks_; i = nextChunk_.fetch_add(1)) {
    const std::uint64_t a = sieved_ + i * kChunk;
    const std::uint64_t end = std::min(top_, a + kChunk);
    for (std::uint64_t x = a; x < end; x += PrimeSegment::kSpan) {
      poll();
      if (x == a) {
        segment.sieve(primes, x, x + PrimeSegment::kSpan - 1);
      } else {
        segment.sieveNext(primes, x + PrimeSegment::kSpan - 1);
      }
      const std::span<const std::uint64_t> sieved = segment.words();
      SIGMA_ASSERT(sieved.size() == PrimeSegment::kSpan / 128);
      std::ranges::copy(sieved, words + (x - first_) / 128);
    }
    chunksDone_.fetch_add(1);
  }
}

OddPrimeBits LowPrimes::bits(std::uint64_t a, std::uint64_t b) const {
  SIGMA_ASSERT(first_ <= a && a <= b && b < top_ && (a - first_) % 128 == 0);
  return {std::span<const std::uint64_t>(words() + (a - first_) / 128, (b - a) / 128 + 1), a + 1,
          a <= 2 && 2 <= b};
}

}  // namespace arith
