// The prefixes of the short intervals of a span of blocks, walked once for
// all the blocks of the span rather than once a block. High up the walk is
// most of a block's cost (near 2^44, 10^9 prefixes a block, 70 % of its
// time), and it hardly changes from one block to the next.
//
// A block [A, B] inside the span [A0, B0] needs, of a prefix k whose interval
// is short (sigma(k) at least the span's floor), only sigma(k) and P(k): its
// primes are p > P(k) with sigma(k) (p + 1) in [A, B]. When
// sigma(k) (P(k) + 1) < A0, P(k) + 2 is below every block's first quotient,
// the interval is the whole of [A / sigma(k), B / sigma(k)], and k counts
// only through its sigma: tallied once for the span, the prefixes that share
// it read its interval once a block. The other prefixes (near the span's top,
// a few per cent when the span is a thirty-second of its height) are listed
// with their sigma and P(k), by the value sigma(k) (P(k) + 2) where their
// sums start, and read one by one.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "arith/window/prefix_walk.hpp"
#include "arith/window/sigma_tally.hpp"
#include "common/widths.hpp"

namespace arith {

class SpanPrefixes {
 public:
  // A prefix read on its own: its sums start at sigma (largest + 2).
  struct Loose {
    std::uint64_t sigma;
    std::uint64_t largest;
  };

  // A span [first, last] for the intervals of sigma from `floor` on, walked
  // by `threads` threads: room for about `entries` sigma in the tally and
  // for `looseMost` loose prefixes in all, past which the walk fails.
  void begin(std::uint64_t first, std::uint64_t last, std::uint64_t floor, unsigned threads,
             std::uint64_t entries, std::uint64_t looseMost);
  // One thread's share of the walk: every thread of the span calls it once
  // after begin. `claimed` is called now and then with the number of claims
  // all threads have taken so far (prefix_walk.hpp's forEachShared), and
  // throws once the calculation is stopped.
  void build(unsigned thread, std::span<const common::Int64> primes,
             const std::function<void(std::uint64_t)>& claimed);
  // Whether every thread's walk ended, without running out of room (a
  // stopped calculation leaves a span that covers nothing).
  bool built() const { return !loose_.empty() && finished_ == loose_.size() && !failed_; }
  // Whether the last walk ran out of room.
  bool failed() const { return failed_; }
  // Whether a block [first, last] whose short intervals have sigma from
  // `floor` on (at most the span's), counted by `threads` threads, can be read off this span.
  bool covers(std::uint64_t first, std::uint64_t last, std::uint64_t floor, unsigned threads) const {
    return built() && first_ <= first && last <= last_ && floor <= floor_ && loose_.size() == threads;
  }
  std::uint64_t floor() const { return floor_; }
  // The tally, read bucket by bucket by the threads, until it is frozen:
  // each thread keeps what it read, and the next block reads that instead
  // (near 2^44 hashing the pools again took a sixth of a block).
  SigmaTally& tally() { return tally_; }
  void keep(unsigned thread, std::uint64_t sigma, std::uint64_t prefixes) {
    kept_[thread] += prefixes;
    for (; prefixes > 0;) {
      const std::uint64_t part = std::min(prefixes, SigmaTally::kMostWeight);
      frozen_[thread].push_back(SigmaTally::entry(sigma, part));
      prefixes -= part;
    }
  }
  // Between blocks: the tally is frozen once a block's threads have kept all
  // of it (a stopped block leaves it as it was), and its pools given back.
  void settle();
  bool frozen() const { return frozenReady_; }
  // visit(sigma, prefixes) for what `thread` kept.
  template <class Visit>
  void forEachFrozen(unsigned thread, const Visit& visit) const {
    for (const std::uint64_t entry : frozen_[thread])
      visit(SigmaTally::sigmaOf(entry), SigmaTally::weightOf(entry));
  }
  // The prefixes `thread` found and could not tally, by the value where
  // their sums start.
  std::span<const Loose> loose(unsigned thread) const { return loose_[thread]; }
  // Gives the memory back.
  void release();

 private:
  struct Full {};  // thrown when the room runs out
  // The plain leaves of a prefix of sigma `sigma` (prefix_walk.hpp): the
  // primes of the table's indices [from, to).
  struct Leaves {
    std::uint64_t sigma;
    std::uint32_t from;
    std::uint32_t to;
  };
  // Leaves a thread holds before it sweeps them (32 MiB).
  static constexpr std::size_t kLeavesHeld = std::size_t{1} << 21;

  // `prefixes` prefixes of one sigma and largest prime: skipped below the
  // floor, tallied where their interval is whole in every block (while the
  // thread's pool has room), listed otherwise.
  void note(unsigned thread, std::uint64_t sigma, std::uint64_t largest, std::uint64_t prefixes);
  // Notes every plain leaf of `leaves`, those of one sigma(k) together;
  // tell() every 2^16 of them.
  void sweepLeaves(unsigned thread, const PrefixWalk& walk, std::vector<Leaves>& leaves,
                   std::uint64_t& visits, const std::function<void()>& tell);

  std::uint64_t first_ = 0;
  std::uint64_t last_ = 0;
  std::uint64_t floor_ = 0;
  std::uint64_t loosePerThread_ = 0;
  SigmaTally tally_;
  std::vector<std::vector<Loose>> loose_;
  std::vector<std::uint64_t> tallied_;  // the prefixes each thread tallied
  std::vector<std::uint64_t> kept_;     // the prefixes each thread kept
  std::vector<std::vector<std::uint64_t>> frozen_;
  bool frozenReady_ = false;
  std::atomic<std::uint64_t> nextClaim_{0};
  std::atomic<bool> failed_{false};
  std::atomic<std::size_t> finished_{0};
};

}  // namespace arith
