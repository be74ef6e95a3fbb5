#include "arith/window/sigma_tally.hpp"

#include <algorithm>
#include <limits>

namespace arith {

void SigmaTally::reset(unsigned threads, std::uint64_t entries) {
  pools_.resize(threads);
  const std::uint64_t pages =
      std::min<std::uint64_t>(entries / threads / kPage, std::numeric_limits<std::uint32_t>::max());
  for (Pool& pool : pools_) {
    if (pool.pages != pages || pool.entries == nullptr) {
      // Taken at once, and given back before the new memory comes.
      pool.entries.reset();
      pool.entries = std::make_unique_for_overwrite<std::uint64_t[]>(pages * kPage);
      pool.previous.assign(pages, kNone);
    }
    pool.pages = static_cast<std::uint32_t>(pages);
    pool.used = 0;
    pool.last.assign(kBuckets, kNone);
    pool.fill.assign(kBuckets, kPage);
  }
  nextBucket_ = 0;
}

void SigmaTally::release() { std::vector<Pool>().swap(pools_); }

void SigmaTally::tallyBucket(std::uint64_t bucket, std::vector<Slot>& table) const {
  // Open addressing, at most half full; a bucket holds thousands of sigma.
  std::uint64_t distinct = 0;
  table.assign(std::max<std::size_t>(table.size(), 256), Slot{kEmpty, 0});
  auto insert = [&](std::uint64_t sigma, std::uint64_t count) {
    const std::uint64_t mask = table.size() - 1;
    for (std::uint64_t i = hashOf(sigma) >> (64 - kBucketBits - 32);; ++i) {
      Slot& slot = table[i & mask];
      if (slot.sigma == sigma) {
        slot.count += count;
        return;
      }
      if (slot.sigma == kEmpty) {
        slot = {sigma, count};
        ++distinct;
        return;
      }
    }
  };
  auto grow = [&] {
    std::vector<Slot> old(table.size() * 4, Slot{kEmpty, 0});
    old.swap(table);
    distinct = 0;
    for (const Slot& slot : old) {
      if (slot.sigma != kEmpty) insert(slot.sigma, slot.count);
    }
  };
  for (const Pool& pool : pools_) {
    for (std::uint32_t page = pool.last[bucket]; page != kNone; page = pool.previous[page]) {
      const std::uint64_t size = page == pool.last[bucket] ? pool.fill[bucket] : kPage;
      const std::uint64_t* entries = pool.entries.get() + std::uint64_t{page} * kPage;
      for (std::uint64_t i = 0; i < size; ++i) {
        if (2 * (distinct + 1) > table.size()) grow();
        insert(entries[i], 1);
      }
    }
  }
}

}  // namespace arith
