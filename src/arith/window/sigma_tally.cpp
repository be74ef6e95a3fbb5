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
      pool.entries = std::make_unique<ZeroedPages>(pages * kPage * sizeof(std::uint64_t));
      pool.previous.assign(pages, kNone);
      pool.freed.reserve(pages);
    }
    pool.pages = static_cast<std::uint32_t>(pages);
    pool.used = 0;
    pool.freed.clear();
    pool.compacting = true;
    pool.last.assign(kBuckets, kNone);
    pool.fill.assign(kBuckets, kPage);
  }
  nextBucket_ = 0;
}

void SigmaTally::release() { std::vector<Pool>().swap(pools_); }

bool SigmaTally::newPage(Pool& pool, std::uint64_t bucket) {
  if (pool.freed.empty() && pool.used == pool.pages) {
    if (!pool.compacting) return false;
    compact(pool);
    if (pool.fill[bucket] < kPage) return true;  // its own last page has room now
    if (pool.freed.empty()) return false;
  }
  std::uint32_t page = 0;
  if (pool.freed.empty()) {
    page = pool.used++;
  } else {
    page = pool.freed.back();
    pool.freed.pop_back();
  }
  pool.previous[page] = pool.last[bucket];
  pool.last[bucket] = page;
  pool.fill[bucket] = 0;
  return true;
}

void SigmaTally::compact(Pool& pool) {
  SlotTable table;
  std::vector<std::uint32_t> chain;
  for (std::uint64_t bucket = 0; bucket < kBuckets; ++bucket) {
    if (pool.last[bucket] == kNone) continue;
    table.clear();
    tallyPages(pool, bucket, table);
    chain.clear();
    for (std::uint32_t page = pool.last[bucket]; page != kNone; page = pool.previous[page])
      chain.push_back(page);
    std::ranges::reverse(chain);
    // Rewritten from the chain's first page on; the pages left over are freed.
    std::uint64_t written = 0;
    table.forEach([&](std::uint64_t sigma, std::uint64_t weight) {
      for (; weight > 0; ++written) {
        const std::uint64_t part = std::min(weight, kMostWeight);
        pool.entries->words()[std::uint64_t{chain[written / kPage]} * kPage + written % kPage] =
            entry(sigma, part);
        weight -= part;
      }
    });
    SIGMA_ASSERT(written >= 1);
    const std::uint64_t kept = (written + kPage - 1) / kPage;
    SIGMA_ASSERT(kept <= chain.size());
    for (std::size_t i = kept; i < chain.size(); ++i) pool.freed.push_back(chain[i]);
    pool.previous[chain[0]] = kNone;
    for (std::size_t i = 1; i < kept; ++i) pool.previous[chain[i]] = chain[i - 1];
    pool.last[bucket] = chain[kept - 1];
    pool.fill[bucket] = static_cast<std::uint32_t>(written - (kept - 1) * kPage);
  }
  // Compacting costs a pass over the whole pool: worth it again only while
  // it frees half of it.
  pool.compacting = 2 * pool.freed.size() >= pool.pages;
}

void SigmaTally::tallyPages(const Pool& pool, std::uint64_t bucket, SlotTable& table) {
  for (std::uint32_t page = pool.last[bucket]; page != kNone; page = pool.previous[page]) {
    const std::uint64_t size = page == pool.last[bucket] ? pool.fill[bucket] : kPage;
    const std::uint64_t* entries = pool.entries->words() + std::uint64_t{page} * kPage;
    for (std::uint64_t i = 0; i < size; ++i) table.add(sigmaOf(entries[i]), weightOf(entries[i]));
  }
}

void SigmaTally::SlotTable::clear() {
  slots_.assign(std::max<std::size_t>(slots_.size(), 256), Slot{kEmpty, 0});
  distinct_ = 0;
}

void SigmaTally::SlotTable::add(std::uint64_t sigma, std::uint64_t weight) {
  if (2 * (distinct_ + 1) > slots_.size()) grow();
  const std::uint64_t mask = slots_.size() - 1;
  for (std::uint64_t i = hashOf(sigma) >> (64 - kBucketBits - 32);; ++i) {
    Slot& slot = slots_[i & mask];
    if (slot.sigma == sigma) {
      slot.weight += weight;
      return;
    }
    if (slot.sigma == kEmpty) {
      slot = {sigma, weight};
      ++distinct_;
      return;
    }
  }
}

void SigmaTally::SlotTable::grow() {
  std::vector<Slot> old(std::max<std::size_t>(slots_.size() * 4, 256), Slot{kEmpty, 0});
  old.swap(slots_);
  distinct_ = 0;
  for (const Slot& slot : old) {
    if (slot.sigma != kEmpty) add(slot.sigma, slot.weight);
  }
}

}  // namespace arith
