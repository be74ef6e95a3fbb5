// The sigma(k) of many prefixes, gathered by every thread during the walk and
// then tallied: how many prefixes share each sigma. High up, the short
// intervals of primes come from about 1.3 * 10^8 prefixes a block of 2^32
// values, but only about 8 * 10^6 values of sigma(k) (counted near 2^40): the
// prefixes of one sigma share their interval, whose primes are then read once
// and their sums filed once, weighted by the tally.
//
// Each thread appends to the buckets (by a hash of sigma) of its own pool of
// pages: no locks, and memory fixed in advance. A full pool is compacted in
// place, each bucket's sigma tallied into one entry apiece with its weight,
// while that frees at least half of the pool; past that it refuses more, and
// the walk files those prefixes' sums itself. Afterwards a bucket is tallied
// by one thread from every thread's pages, in a small hash table that stays
// in the cache.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "arith/blocks/zeroed_pages.hpp"
#include "common/check.hpp"

namespace arith {

class SigmaTally {
 public:
  static constexpr unsigned kBucketBits = 10;
  static constexpr std::uint64_t kBuckets = std::uint64_t{1} << kBucketBits;
  // Entries of a page: a bucket's last page is part full, so pages stay small.
  static constexpr std::uint64_t kPage = 512;
  // An entry is a sigma below 2^kSigmaBits, and above it its weight less one.
  static constexpr unsigned kSigmaBits = 52;
  static constexpr std::uint64_t kMostSigma = (std::uint64_t{1} << kSigmaBits) - 1;
  static constexpr std::uint64_t kMostWeight = std::uint64_t{1} << (64 - kSigmaBits);
  static std::uint64_t entry(std::uint64_t sigma, std::uint64_t weight) {
    SIGMA_ASSERT(sigma <= kMostSigma && weight >= 1 && weight <= kMostWeight);
    return sigma | (weight - 1) << kSigmaBits;
  }
  static std::uint64_t sigmaOf(std::uint64_t entry) { return entry & kMostSigma; }
  static std::uint64_t weightOf(std::uint64_t entry) { return (entry >> kSigmaBits) + 1; }

  // Room for about `entries` sigma in all, shared by `threads` threads; the
  // memory is kept from block to block while the room stays the same.
  void reset(unsigned threads, std::uint64_t entries);
  // Gives the memory back.
  void release();
  // Every bucket may be claimed again: the tally is read once more.
  void restartClaims() { nextBucket_ = 0; }

  // Gathers `weight` prefixes (1 to kMostWeight) of one sigma (1 to
  // kMostSigma) from `thread`; false when its pool is full.
  bool add(unsigned thread, std::uint64_t sigma, std::uint64_t weight = 1) {
    SIGMA_ASSERT(thread < pools_.size() && sigma != kEmpty);
    Pool& pool = pools_[thread];
    const std::uint64_t bucket = bucketOf(sigma);
    if (pool.fill[bucket] == kPage && !newPage(pool, bucket)) return false;
    pool.entries->words()[std::uint64_t{pool.last[bucket]} * kPage + pool.fill[bucket]++] =
        entry(sigma, weight);
    return true;
  }

  // For each bucket a thread claims (every bucket once, over all the threads
  // that call it), visit(sigma, prefixes) for each sigma gathered there.
  template <class Visit>
  void forEachClaimed(const Visit& visit) {
    SlotTable table;
    for (std::uint64_t b = nextBucket_.fetch_add(1); b < kBuckets; b = nextBucket_.fetch_add(1)) {
      table.clear();
      for (const Pool& pool : pools_) tallyPages(pool, b, table);
      table.forEach(visit);
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = 0;
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};
  struct Pool {
    std::unique_ptr<ZeroedPages> entries;  // pages of kPage entries, touched as they are taken
    std::vector<std::uint32_t> previous;   // each page's bucket's page before it, or kNone
    std::vector<std::uint32_t> last;       // each bucket's last page, or kNone
    std::vector<std::uint32_t> fill;       // entries in that page (kPage when there is none)
    std::vector<std::uint32_t> freed;      // pages given back by a compaction
    std::uint32_t pages = 0;
    std::uint32_t used = 0;
    bool compacting = true;  // whether the last compaction freed enough to try again
  };
  // Open addressing, at most half full: distinct sigma with their weights.
  class SlotTable {
   public:
    void clear();
    void add(std::uint64_t sigma, std::uint64_t weight);
    template <class Visit>
    void forEach(const Visit& visit) const {
      for (const Slot& slot : slots_) {
        if (slot.sigma != kEmpty) visit(slot.sigma, slot.weight);
      }
    }

   private:
    struct Slot {
      std::uint64_t sigma;
      std::uint64_t weight;
    };
    void grow();
    std::vector<Slot> slots_;
    std::uint64_t distinct_ = 0;
  };

  // Fibonacci hashing: the top bits pick the bucket, the bits below them a slot.
  static std::uint64_t hashOf(std::uint64_t sigma) { return sigma * 0x9E3779B97F4A7C15u; }
  static std::uint64_t bucketOf(std::uint64_t sigma) { return hashOf(sigma) >> (64 - kBucketBits); }
  // A page for `bucket`, after compacting the pool if it is full; false when none is left.
  static bool newPage(Pool& pool, std::uint64_t bucket);
  // Each bucket of the pool rewritten as one entry per sigma (a few past kMostWeight).
  static void compact(Pool& pool);
  // Adds the pool's entries of `bucket` to `table`.
  static void tallyPages(const Pool& pool, std::uint64_t bucket, SlotTable& table);

  std::vector<Pool> pools_;
  std::atomic<std::uint64_t> nextBucket_{0};
};

}  // namespace arith
