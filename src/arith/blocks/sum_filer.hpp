// One thread's filing of divisor sums by slab of a block's counts, and their
// counting, slab by slab.
//
// Counting sums as they come would miss the cache at nearly every one: each
// sum is filed instead, as 32 bits (its offset in its slab, its weight above
// it), in the chunk its slab is filling, and a slab's chunks are counted at
// once by the thread that holds the slab, once every sum is filed, while the
// slab's counts are in that core's cache (block_counter.hpp). A slab is the
// dense sums' (dense_sums.hpp): a few thousand of them in the widest block,
// whose chunks' tails stay in the L2 cache. The chunks come from the thread's
// pool; when it runs dry, every full chunk is counted at once, slab by slab
// under the slab's lock, and goes back to it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "arith/blocks/dense_sums.hpp"
#include "arith/blocks/sum_source.hpp"
#include "common/check.hpp"

namespace arith {

template <class Counts>
class SumFiler {
 public:
  static constexpr std::uint64_t kSlabValues = kDenseSlabBytes * Counts::kPerByte;
  static constexpr unsigned kSlabBits = std::countr_zero(kSlabValues);
  static constexpr std::uint64_t kSlabMask = kSlabValues - 1;
  static_assert(kSlabValues == std::uint64_t{1} << kSlabBits && kSlabValues % Counts::kRegionValues == 0,
                "a slab is a power of two of whole regions");
  // An entry: the sum's offset in its slab, and its weight less one above it.
  static_assert(kMaxWeight <= std::uint64_t{1} << (32 - kSlabBits),
                "a weighted entry's weight fits its 32 bits");
  static constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 14;
  static constexpr std::uint64_t kChunkEntries = kChunkBytes / sizeof(std::uint32_t);

  static std::uint64_t slabsFor(std::uint64_t values) {
    return values == 0 ? 0 : ((values - 1) >> kSlabBits) + 1;
  }
  // Bytes of chunks a thread needs for a block of `values` values: half a
  // byte a value (sixteen chunks a slab, or thirty-two), and room for the
  // tails of a block of one slab, the sums outside it, and the alignment.
  static std::uint64_t poolBytes(std::uint64_t values) {
    return (values / 2 / kChunkBytes + 4) * kChunkBytes;
  }

  // `pool`: `bytes` bytes of this thread's, at least poolBytes of the block's
  // values; `locks`: one per slab, shared by every thread's filer.
  // `stop`: looked at slab by slab while a dry pool's chunks are counted.
  SumFiler(std::uint8_t* pool, std::uint64_t bytes, Counts& counts, std::vector<std::mutex>& locks,
           std::uint64_t first, StopFlag stop = nullptr)
      : counts_(counts),
        stop_(stop),
        locks_(locks),
        first_(first),
        slabs_(slabsFor(counts.values())),
        chunks_(alignedChunks(pool, bytes)),
        next_(chunks_.size() / kChunkEntries, kNone),
        full_(slabs_, kNone),
        tail_(slabs_ + 1) {
    SIGMA_ASSERT(locks.size() == slabs_ && next_.size() >= slabs_ + 2);
    // Each slab, and the sums outside the block, start with a chunk; the others are free.
    for (std::uint64_t s = 0; s <= slabs_; ++s) tail_[s] = chunk(s);
    for (std::uint64_t c = next_.size(); c > slabs_ + 1; --c)
      free_.push_back(static_cast<std::uint32_t>(c - 1));
  }

  // Files plain sums, each counted once.
  void file(std::span<const std::uint64_t> sums) { fileEntries<false>(sums); }
  // Files weighted entries (sum_source.hpp): one of weight w is counted w times.
  void fileWeighted(std::span<const std::uint64_t> entries) { fileEntries<true>(entries); }

  // Counts every sum filed for one slab, once the filing is over; the caller
  // holds the slab. Other threads count this filer's other slabs at the same
  // time, so its chunks are not given back: the pool is the filing thread's
  // alone, and the filer ends with its block.
  void countPending(std::uint64_t slab) {
    SIGMA_ASSERT(slab < slabs_);
    const std::scoped_lock lock(locks_[slab]);
    countFull(slab, false);
    std::uint32_t* const start = chunk(indexOf(tail_[slab]));
    countEntries(slab, start, tail_[slab]);
    tail_[slab] = start;
  }
  // Counts everything filed.
  void flush() {
    for (std::uint64_t s = 0; s < slabs_; ++s) countPending(s);
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  static std::span<std::uint32_t> alignedChunks(std::uint8_t* pool, std::uint64_t bytes) {
    const auto address = reinterpret_cast<std::uintptr_t>(pool);
    const std::uint64_t skip = (kChunkBytes - address % kChunkBytes) % kChunkBytes;
    SIGMA_ASSERT(bytes >= skip + kChunkBytes);
    const std::uint64_t chunks = (bytes - skip) / kChunkBytes;
    SIGMA_ASSERT(chunks < kNone);
    return {reinterpret_cast<std::uint32_t*>(pool + skip), chunks * kChunkEntries};
  }
  std::uint32_t* chunk(std::uint64_t index) { return chunks_.data() + index * kChunkEntries; }
  // The chunk an entry's place lies in (a tail is never at its chunk's end).
  std::uint64_t indexOf(const std::uint32_t* at) const {
    return static_cast<std::uint64_t>(at - chunks_.data()) / kChunkEntries;
  }

  template <bool kWeighted>
  void fileEntries(std::span<const std::uint64_t> entries) {
    const std::uint64_t width = counts_.values();
    for (const std::uint64_t entry : entries) {
      // Wraps when the sum is below first.
      const std::uint64_t offset = (kWeighted ? entry & kSumMask : entry) - first_;
      const std::uint64_t weightLess1 = kWeighted ? entry >> kWeightShift : 0;
      // Sums outside the block go to a chunk that is never counted: a third
      // of the sieve's miss the block, at random, and a branch would guess
      // wrong often.
      const std::uint64_t slab = offset < width ? offset >> kSlabBits : slabs_;
      put(slab, static_cast<std::uint32_t>((offset & kSlabMask) | weightLess1 << kSlabBits));
    }
  }

  void put(std::uint64_t slab, std::uint32_t entry) {
    std::uint32_t*& at = tail_[slab];
    __builtin_prefetch(at + 16, 1);  // the next line: a tail a slab, thousands of them
    *at++ = entry;
    if ((reinterpret_cast<std::uintptr_t>(at) & (kChunkBytes - 1)) == 0) chunkFull(slab);
  }

  // The slab's chunk is full: it joins the slab's full ones, and a free one
  // takes its place (the sums outside the block start their chunk again).
  void chunkFull(std::uint64_t slab) {
    const std::uint64_t index = indexOf(tail_[slab] - 1);
    if (slab == slabs_) {
      tail_[slab] = chunk(index);
      return;
    }
    next_[index] = full_[slab];
    full_[slab] = static_cast<std::uint32_t>(index);
    if (free_.empty()) countAllFull();
    SIGMA_ASSERT(!free_.empty());
    tail_[slab] = chunk(free_.back());
    free_.pop_back();
  }

  // Every slab's full chunks counted, in order of the slabs, and freed; each
  // slab's counts read in first, under its lock (another filer may be
  // counting there).
  void countAllFull() {
    for (std::uint64_t s = nextFull(0); s < slabs_; s = nextFull(s + 1)) {
      // A pass may count an eighth of a wide block's values: a stopped
      // calculation ends within a slab, not at the pass's end.
      throwIfStopped(stop_);
      const std::scoped_lock lock(locks_[s]);
      counts_.fetchValues(s << kSlabBits, (s + 1) << kSlabBits);
      countFull(s, true);
    }
  }
  std::uint64_t nextFull(std::uint64_t slab) const {
    while (slab < slabs_ && full_[slab] == kNone) ++slab;
    return slab;
  }
  // The slab's full chunks counted, and given back to the pool if `release`
  // (only by the filing thread); the caller holds the slab.
  void countFull(std::uint64_t slab, bool release) {
    for (std::uint32_t c = full_[slab]; c != kNone; c = next_[c]) {
      countEntries(slab, chunk(c), chunk(c) + kChunkEntries);
      if (release) free_.push_back(c);
    }
    full_[slab] = kNone;
  }

  // Out of line, so that profiles tell filing from counting.
  [[gnu::noinline]] void countEntries(std::uint64_t slab, const std::uint32_t* from,
                                      const std::uint32_t* to) {
    const std::uint64_t base = slab << kSlabBits;
    for (const std::uint32_t* entry = from; entry < to; ++entry)
      counts_.bumpBy(base + (*entry & kSlabMask), (*entry >> kSlabBits) + 1);
  }

  Counts& counts_;
  StopFlag stop_;
  std::vector<std::mutex>& locks_;
  std::uint64_t first_;
  std::uint64_t slabs_;  // the tail after the slabs' takes the sums outside the block
  std::span<std::uint32_t> chunks_;
  std::vector<std::uint32_t> next_;   // each full chunk's next in its slab's list
  std::vector<std::uint32_t> full_;   // each slab's first full chunk
  std::vector<std::uint32_t*> tail_;  // where each slab's next entry goes
  std::vector<std::uint32_t> free_;
};

}  // namespace arith
