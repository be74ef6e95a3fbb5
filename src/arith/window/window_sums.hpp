// The divisor sums of a window of values [A, B], found from the largest prime
// factor of each m rather than from every candidate below B: the cost follows
// the window's width and the number of prefixes, not A.
//
// Every m > 1 is k p^e with p its largest prime factor and P(k) < p, and
// sigma(m) = sigma(k) sigma(p^e). For each prefix k (prefix_walk.hpp):
// - e = 1: the primes p > P(k) with sigma(k) (p + 1) in [A, B] fill an
//   interval of about (B - A) / sigma(k) numbers. The long ones overlap (about
//   [A / s, B / s] for s = sigma(k)): their union is sieved once, segment by
//   segment (prime_segment.hpp), and each segment's primes serve every long
//   interval that meets it. Many k share s, and then their interval: its sums
//   are filed once, weighted by the number of those k; where s is small, the
//   sums are not filed but counted after the filing, slab by slab of values,
//   from the union's bits kept for the block (dense_sums.hpp). A short one is
//   read off the bitmap of small primes, or tested number by number above it.
// - e >= 2: sigma(p^e) lies in [A / sigma(k), B / sigma(k)], and
//   p^e < sigma(p^e) <= (p + 1)^e puts p within a step of the e-th root:
//   a few candidates, tested one by one, and none at all once
//   sigma((P(k) + 1)^e) passes B / sigma(k).
// And m = 1 when A = 1.
// Classing each m by its largest prime factor is the classical decomposition
// of the theory of smooth numbers (N. G. de Bruijn, "On the number of positive
// integers <= x and free of prime factors > y", Indag. Math. 13 (1951)).
//
// The union's chunks of segments are handed to the threads first; then every thread
// walks the prefixes of depth at most two, and takes, in turn with the other
// threads, a prefix of depth two with everything below it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "arith/blocks/sum_buffer.hpp"
#include "arith/blocks/sum_source.hpp"
#include "arith/blocks/zeroed_pages.hpp"
#include "arith/primes/primality.hpp"
#include "arith/primes/prime_table.hpp"
#include "arith/window/low_primes.hpp"
#include "arith/window/odd_prime_bits.hpp"
#include "arith/window/prefix_walk.hpp"
#include "arith/window/prime_segment.hpp"
#include "arith/window/sigma_tally.hpp"
#include "arith/window/span_prefixes.hpp"

namespace arith {

class WindowSums : public SumSource {
 public:
  // Intervals of primes at least this long are sieved; shorter ones are read
  // off the prime bitmap, or tested past it, where an interval of at least
  // kLongUntested numbers is sieved too (near 2^44, for blocks of 2^30 values,
  // the tests took a fifth of the time: sieving costs a few ns a number, a
  // test about a hundred).
  static constexpr std::uint64_t kLong = 2048;
  static constexpr std::uint64_t kLongUntested = 32;
  // The highest sums the method takes: its tables grow with their square root.
  static constexpr std::uint64_t kCeiling = std::uint64_t{1} << 52;
  static_assert(kCeiling <= kSumMask, "a sum leaves room for its weight");
  // A gathered prefix has sigma(k) (P(k) + 2) <= kCeiling, so sigma(k) <= kCeiling / 3.
  static_assert(kCeiling / 3 <= SigmaTally::kMostSigma, "a gathered sigma leaves room for its weight");
  // Sums a thread gathers before it files them.
  static constexpr std::size_t kBuffer = 4096;
  // Long intervals of sigma up to this are counted straight into the block
  // (dense_sums.hpp) from the union's bits, kept for the block. Past it, an
  // interval has too few sums in a slab of values to pay for its visit (near
  // 2^40, 2^12 took less time than 2^10 or 2^14).
  static constexpr std::uint64_t kDenseSigma = std::uint64_t{1} << 12;
  // What the union's bits may take, at most: near 2^40 the union is about
  // four times the block's width, an eighth of a byte a value in odd numbers.
  static constexpr std::uint64_t storeBytesFor(std::uint64_t values) { return values / 3; }
  // The sigma of short intervals gathered to be tallied (sigma_tally.hpp):
  // room for one a kValuesPerGathered values. Near 2^40 a block of 2^32
  // values has 1.3 * 10^8 such prefixes, one of 2^30 values 1.1 * 10^8; past
  // the room, they are filed as they come.
  static constexpr std::uint64_t kValuesPerGathered = 32;
  static constexpr std::uint64_t gatheredFor(std::uint64_t values,
                                             std::uint64_t valuesPer = kValuesPerGathered) {
    return valuesPer == 0 ? 0 : values / valuesPer;
  }
  // A span of blocks walks the prefixes once for the blocks whose values lie
  // within a kSpanShare-th of its first value above it (spans a sixty-fourth
  // of their height left 1.5 % of the prefixes loose near 2^40).
  static constexpr std::uint64_t kSpanShare = 32;
  // The last value of a span begun by the block [first, last] of a
  // calculation that goes on up to `expectedLast`; 0 when that span would
  // not hold two such blocks. (The planner charges spans by the same rule.)
  static constexpr std::uint64_t spanLastFor(std::uint64_t first, std::uint64_t last,
                                             std::uint64_t expectedLast) {
    const std::uint64_t spanLast = std::min(expectedLast, first + first / kSpanShare);
    return spanLast >= last && spanLast - first >= 2 * (last - first) + 1 ? spanLast : 0;
  }
  // Room for the loose prefixes of a span of blocks of `values` values.
  static constexpr std::uint64_t looseFor(std::uint64_t values) { return values / 128; }
  // What a block of `values` values keeps beside its counts, at most.
  static constexpr std::uint64_t keptBytesFor(std::uint64_t values) {
    return storeBytesFor(values) + gatheredFor(values) * sizeof(std::uint64_t) +
           looseFor(values) * sizeof(SpanPrefixes::Loose);
  }

  // `denseSigma`: the long intervals counted straight into the block are
  // those of sigma up to it; `valuesPerGathered`: the room to gather short
  // intervals, one a that many values (none when 0).
  explicit WindowSums(PrimeTable& table, std::uint64_t denseSigma = kDenseSigma,
                      std::uint64_t valuesPerGathered = kValuesPerGathered)
      : table_(table), denseSigma_(denseSigma), valuesPerGathered_(valuesPerGathered) {}

  // The room of a span's tally (bytes) whose sums reach `last`, walked by
  // `threads` threads: each thread's pool may come to hold every sigma, and
  // is compacted while that frees half of it; the tally frozen takes each
  // sigma once more (twice while its lists grow). The distinct sigma of the
  // short intervals: 8.4 * 10^6 up to 2^40, 5.05 * 10^7 up to 2^44.
  static std::uint64_t spanTallyBytes(std::uint64_t last, unsigned threads);
  // What a calculation of [first, last] may give the primes it keeps
  // (low_primes.hpp), at most: the numbers its blocks' unions share lie
  // below last / 3, and a calculation sieves them again only where it holds
  // many blocks.
  static constexpr std::uint64_t lowPrimesBytesFor(std::uint64_t first, std::uint64_t last) {
    return LowPrimes::bytesFor(std::min((last - first) / 2, last / 3));
  }
  // The calculation goes on up to `last`: its blocks may share a walk of the
  // prefixes (span_prefixes.hpp), whose tally may take `tallyBytes` (none
  // when 0), and keep the low primes of their unions in `lowBytes` (none
  // when 0). Until then, and after release, each block walks and sieves its own.
  void expectUpTo(std::uint64_t last, std::uint64_t tallyBytes, std::uint64_t lowBytes = 0) {
    expectedLast_ = last;
    spanTallyBytes_ = tallyBytes;
    lowBytes_ = lowBytes;
    low_.release();
  }
  void prepare(std::uint64_t first, std::uint64_t last, unsigned threads) override;
  void prepareShared(unsigned thread, const std::function<void()>& poll, const ProgressSink& done) override;
  void produce(unsigned thread, const Filing& file, const ProgressSink& done) override;
  void produceGathered(unsigned thread, const Filing& file) override;
  const DenseSums* dense() const override { return &dense_; }
  // Whether the last block read its short intervals off a span.
  bool spanned() const { return spanned_ && span_.built(); }
  // Gives back the memory kept from block to block.
  void release();

 private:
  // A long interval: the primes p of [low, high], each giving the sum
  // sigma * (p + 1) for `weight` prefixes of that sigma at once.
  struct Interval {
    std::uint64_t sigma;
    std::uint64_t low;
    std::uint64_t high;
    std::uint64_t weight = 1;
  };
  // Segments of the union of the long intervals sieved in a row by one
  // thread (each prime's next multiple carries from one to the next): [a, b],
  // at most kChunkSegments segments of PrimeSegment::kSpan numbers.
  static constexpr std::uint64_t kChunkSegments = 16;
  // Its bits go to the store from word `word` on; a chunk of the kept low
  // primes is read, not sieved.
  struct Chunk {
    std::uint64_t a;
    std::uint64_t b;
    std::uint64_t word;
    bool kept;
  };
  // A piece of the union, [low, high], low a multiple of 128: its bits in the
  // store, or in the kept low primes, from word `word` on, bit i telling
  // whether low + 1 + 2i is prime.
  struct Piece {
    std::uint64_t low;
    std::uint64_t high;
    std::uint64_t word;
    bool kept;
  };

  // The t with sigma * t in the window: [low, high], empty when low > high.
  struct SumQuotients {
    std::uint64_t low;
    std::uint64_t high;
  };
  SumQuotients quotientsFor(std::uint64_t sigma) const;
  // The least t >= P(k) + 2 of the quotients: p + 1 for the smallest p of e = 1.
  static std::uint64_t lowestQuotient(const Prefix& k, const SumQuotients& quotients);
  // The least sigma of intervals too short to be sieved, in a block [last - width, last].
  static std::uint64_t shortSigma(std::uint64_t width, std::uint64_t last);
  static bool isLong(const Prefix& k, const SumQuotients& quotients);
  void noteLong(const Prefix& k);
  void keepLowPrimes();
  void cutUnion();
  void addPieces(std::uint64_t low, std::uint64_t high, std::span<const Interval> intervals);
  void cutPiece(const Piece& piece, std::span<const Interval> intervals);
  const std::uint64_t* piecesBits(const Piece& piece) const;
  std::uint64_t storeRoomWords() const { return store_ ? store_->bytes() / sizeof(std::uint64_t) : 0; }
  void mergeShared();
  void noteDense();
  void chunkSums(const Chunk& chunk, PrimeSegment& segment, SumBuffer& out);
  void keep(const PrimeSegment& segment, std::uint64_t word);
  void segmentSums(std::uint64_t a, std::uint64_t b, const OddPrimeBits& primes, SumBuffer& out) const;
  // Whether the block reads its short intervals off a span, and whether it gathers them itself.
  void chooseSpan(unsigned threads);
  static std::uint64_t claimsOf(const PrefixWalk& walk);
  std::function<void(std::uint64_t)> told(const ProgressSink& done) const;
  void prefixSums(const Prefix& k, unsigned thread, SumBuffer& out);
  void shortSums(const Prefix& k, const SumQuotients& quotients, unsigned thread, SumBuffer& out);
  PrefixWalk spanWalk() const;
  void spannedSums(unsigned thread, SumBuffer& out, const ProgressSink& done);
  // add(sigma * (p + 1)) for each odd prime p of [lo, hi].
  template <class Add>
  void oddPrimeSums(std::uint64_t sigma, std::uint64_t lo, std::uint64_t hi, const Add& add) const;
  void primePowerSums(const Prefix& k, const SumQuotients& quotients, SumBuffer& out) const;
  void walkPrefixes(unsigned thread, SumBuffer& out, const ProgressSink& done);

  PrimeTable& table_;
  std::uint64_t denseSigma_;
  std::uint64_t valuesPerGathered_;
  PrimeTest isPrime_;
  std::uint64_t first_ = 1;
  std::uint64_t last_ = 1;
  std::vector<Interval> long_;  // by increasing sigma, one per (sigma, low, high)
  std::vector<Chunk> chunks_;
  std::vector<Piece> pieces_;  // by increasing low
  std::uint64_t storeWords_ = 0;
  bool stored_ = false;                 // whether the union's bits are kept in store_
  std::unique_ptr<ZeroedPages> store_;  // kept from block to block
  std::size_t denseEnd_ = 0;            // long_[0, denseEnd_) are counted as dense_
  DenseSums dense_;
  SigmaTally gathered_;       // the sigma of short intervals whose low end is A / sigma
  bool gathering_ = false;    // whether gathered_ takes them in this block
  SpanPrefixes span_;         // or the span of blocks this block reads them off
  bool spanned_ = false;      // whether this block does
  bool building_ = false;     // whether prepareShared walks the span
  bool spanRefused_ = false;  // whether a span ran out of room in this calculation
  std::uint64_t expectedLast_ = 0;
  std::uint64_t spanTallyBytes_ = 0;
  std::uint64_t lowBytes_ = 0;
  LowPrimes low_;  // kept from block to block
  std::atomic<std::size_t> nextChunk_{0};
  std::uint64_t claims_ = 1;      // the prefixes of depth two or less
  std::uint64_t spanClaims_ = 1;  // the same for the span being walked
  std::atomic<std::uint64_t> nextClaim_{0};
};

}  // namespace arith
