// The sigma(k) of many prefixes, gathered by every thread during the walk and
// then tallied: how many prefixes share each sigma. High up, the short
// intervals of primes come from about 1.3 * 10^8 prefixes a block of 2^32
// values, but only about 8 * 10^6 values of sigma(k) (counted near 2^40): the
// prefixes of one sigma share their interval, whose primes are then read once
// and their sums filed once, weighted by the tally.
//
// Each thread appends to the buckets (by a hash of sigma) of its own pool of
// pages: no locks, and memory fixed in advance. A full pool refuses more, and
// the walk then files those prefixes' sums itself. Afterwards a bucket is
// tallied by one thread from every thread's pages, in a small hash table that
// stays in the cache.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/check.hpp"

namespace arith {

class SigmaTally {
 public:
  static constexpr unsigned kBucketBits = 10;
  static constexpr std::uint64_t kBuckets = std::uint64_t{1} << kBucketBits;
  // Entries of a page: a bucket's last page is part full, so pages stay small.
  static constexpr std::uint64_t kPage = 512;

  // Room for about `entries` sigma in all, shared by `threads` threads; the
  // memory is kept from block to block while the room stays the same.
  void reset(unsigned threads, std::uint64_t entries);
  // Gives the memory back.
  void release();

  // Gathers one prefix's sigma (>= 1) from `thread`; false when its pool is full.
  bool add(unsigned thread, std::uint64_t sigma) {
    SIGMA_ASSERT(thread < pools_.size() && sigma != kEmpty);
    Pool& pool = pools_[thread];
    const std::uint64_t bucket = bucketOf(sigma);
    std::uint32_t& fill = pool.fill[bucket];
    if (fill == kPage) {
      if (pool.used == pool.pages) return false;
      pool.previous[pool.used] = pool.last[bucket];
      pool.last[bucket] = pool.used++;
      fill = 0;
    }
    pool.entries[std::uint64_t{pool.last[bucket]} * kPage + fill++] = sigma;
    return true;
  }

  // For each bucket a thread claims (every bucket once, over all the threads
  // that call it), visit(sigma, prefixes) for each sigma gathered there.
  template <class Visit>
  void forEachClaimed(const Visit& visit) {
    std::vector<Slot> table;
    for (std::uint64_t b = nextBucket_.fetch_add(1); b < kBuckets; b = nextBucket_.fetch_add(1)) {
      tallyBucket(b, table);
      for (const Slot& slot : table) {
        if (slot.sigma != kEmpty) visit(slot.sigma, slot.count);
      }
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = 0;
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};
  struct Pool {
    std::unique_ptr<std::uint64_t[]> entries;  // pages of kPage entries, touched as they are taken
    std::vector<std::uint32_t> previous;       // each page's bucket's page before it, or kNone
    std::vector<std::uint32_t> last;           // each bucket's last page, or kNone
    std::vector<std::uint32_t> fill;           // entries in that page (kPage when there is none)
    std::uint32_t pages = 0;
    std::uint32_t used = 0;
  };
  struct Slot {
    std::uint64_t sigma;
    std::uint64_t count;
  };

  // Fibonacci hashing: the top bits pick the bucket, the bits below them a slot.
  static std::uint64_t hashOf(std::uint64_t sigma) { return sigma * 0x9E3779B97F4A7C15u; }
  static std::uint64_t bucketOf(std::uint64_t sigma) { return hashOf(sigma) >> (64 - kBucketBits); }
  // The bucket's sigma with their counts, in `table` (cleared and grown as needed).
  void tallyBucket(std::uint64_t bucket, std::vector<Slot>& table) const;

  std::vector<Pool> pools_;
  std::atomic<std::uint64_t> nextBucket_{0};
};

}  // namespace arith
