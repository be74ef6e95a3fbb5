// One thread's filing of divisor sums into per-region batches of a block's
// counts, and the counting of a batch once it is full.
//
// Counting sums as they come would miss the cache at nearly every one: a
// batch of Counts::kBatch sums of one region is counted at once, under the
// region's lock. A full batch waits until the next one fills, its region's
// bytes coming in from memory meanwhile while the batch before it is counted;
// its run is swapped for a free one, so the region's sums keep coming. The
// tails of the batches being filled are the working set of the filing; beyond
// a few thousand regions they no longer stay in the cache, so wide blocks stage the sums
// first by group of regions (at most kGroups groups), then spread a full
// group's run over its regions' batches, where every tail is then at hand.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "arith/blocks/sum_source.hpp"
#include "common/check.hpp"

namespace arith {

template <class Counts>
class SumFiler {
 public:
  static constexpr unsigned kRegionBits = Counts::kRegionBits;
  static constexpr std::uint64_t kBatchBytes = Counts::kBatch * sizeof(std::uint16_t);
  static constexpr std::uint64_t kGroups = 512;  // at most, when the sums are staged
  static constexpr std::uint64_t kStage = 4096;  // staged sums per group
  static constexpr std::uint64_t kStageBytes = kStage * sizeof(std::uint32_t);
  static constexpr std::uint64_t kDirectRegions = 4096;  // up to this, no staging
  // A full run is found by its tail reaching an address aligned on the run's size.
  static_assert((kBatchBytes & (kBatchBytes - 1)) == 0 && (kStageBytes & (kStageBytes - 1)) == 0);
  static_assert(kRegionBits <= 16, "offsets in a region fit 16 bits");
  // A run's entry kMark starts a record of a weighted sum, [kMark, offset in
  // the region, weight], unless it is among the last kRecordSlots - 1 of a full run.
  static constexpr std::uint16_t kMark = 0xFFFF;
  static constexpr std::uint64_t kRecordSlots = 3;

  // Bytes of batches a thread needs, and of staging runs (0 when none), for `regions` regions.
  // A run per region, one for the sums outside the block, a free one, and slack to align them.
  static std::uint64_t batchBytes(std::uint64_t regions) { return (regions + 3) * kBatchBytes; }
  static std::uint64_t stageBytes(std::uint64_t regions) {
    return regions <= kDirectRegions ? 0 : stagingFor(regions);
  }
  static std::uint64_t stagingFor(std::uint64_t regions, std::uint64_t maxGroups = kGroups) {
    return (groupsOf(regions, maxGroups) + 2) * kStageBytes;
  }

  // `batches`: batchBytes bytes of this thread's; `staging`: stagingFor bytes
  // of this thread's to stage the sums, or nullptr to file them straight.
  SumFiler(std::uint8_t* batches, std::uint8_t* staging, Counts& counts, std::vector<std::mutex>& locks,
           std::uint64_t first, std::uint64_t maxGroups = kGroups)
      : counts_(counts),
        locks_(locks),
        first_(first),
        regions_(counts.regions()),
        groupShift_(kRegionBits + fanBits(regions_, maxGroups)),
        groupMask_((std::uint64_t{1} << groupShift_) - 1),
        stageWeight_(groupShift_ >= 32 ? 1 : std::uint64_t{1} << (32 - groupShift_)),
        groups_(staging == nullptr ? 0 : ((counts.values() - 1) >> groupShift_) + 1),
        batches_(aligned<std::uint16_t>(batches, kBatchBytes)),
        staging_(staging == nullptr ? nullptr : aligned<std::uint32_t>(staging, kStageBytes)),
        run_(regions_ + 1),
        tail_(regions_ + 1),
        free_(batches_ + (regions_ + 1) * Counts::kBatch),
        stageTail_(groups_ == 0 ? 0 : groups_ + 1) {
    SIGMA_ASSERT(groups_ == 0 || groupShift_ <= 32);  // a staged offset fits 32 bits
    for (std::uint64_t r = 0; r <= regions_; ++r) run_[r] = tail_[r] = batches_ + r * Counts::kBatch;
    for (std::uint64_t g = 0; g < stageTail_.size(); ++g) stageTail_[g] = stageOf(g);
  }

  // Files plain sums, each counted once.
  void file(std::span<const std::uint64_t> sums) { fileEntries<false>(sums); }
  // Files weighted entries (sum_source.hpp): one of weight w is counted w times.
  void fileWeighted(std::span<const std::uint64_t> entries) {
    weighted_ = true;
    fileEntries<true>(entries);
  }

  // Counts everything still filed.
  void flush() {
    spreadStaged();
    for (std::uint64_t r = 0; r < regions_; ++r) countPending(r);
  }
  // Spreads the staged sums to their regions' runs and counts the run that
  // waits: what is left is each region's run being filled (countPending).
  void spreadStaged() {
    for (std::uint64_t g = 0; g < groups_; ++g) spreadGroup(g);
    countWaiting();
  }
  // Counts the sums of the region's run being filled.
  void countPending(std::uint64_t region) {
    SIGMA_ASSERT(region < regions_);
    if (tail_[region] == run_[region]) return;
    countRun(region, run_[region], tail_[region]);
    tail_[region] = run_[region];
  }

 private:
  static std::uint64_t groupsOf(std::uint64_t regions, std::uint64_t maxGroups) {
    return ((regions - 1) >> fanBits(regions, maxGroups)) + 1;
  }
  // Regions per group, as a power of two: enough for at most maxGroups groups.
  static unsigned fanBits(std::uint64_t regions, std::uint64_t maxGroups) {
    unsigned bits = 0;
    while (((regions - 1) >> bits) + 1 > maxGroups) ++bits;
    return bits;
  }
  template <class T>
  static T* aligned(std::uint8_t* data, std::uint64_t alignment) {
    const auto address = reinterpret_cast<std::uintptr_t>(data);
    return reinterpret_cast<T*>(data + (alignment - address % alignment) % alignment);
  }
  std::uint32_t* stageOf(std::uint64_t group) const { return staging_ + group * kStage; }

  // An offset's place in its region.
  static std::uint16_t inRegion(std::uint64_t offset) {
    return static_cast<std::uint16_t>(offset & ((std::uint64_t{1} << kRegionBits) - 1));
  }

  // Plain sums take the loop they always took: no weight to read.
  template <bool kWeighted>
  void fileEntries(std::span<const std::uint64_t> entries) {
    const std::uint64_t width = counts_.values();
    for (const std::uint64_t entry : entries) {
      // Wraps when the sum is below first.
      const std::uint64_t offset = (kWeighted ? entry & kSumMask : entry) - first_;
      const std::uint64_t weight = kWeighted ? (entry >> kWeightShift) + 1 : 1;
      // Sums outside the block go to a run that is never counted: a third of
      // them miss the block, at random, and a branch would guess wrong often.
      if (groups_ == 0) {
        const std::uint64_t region = offset < width ? offset >> kRegionBits : regions_;
        toRegion(region, inRegion(offset), weight);
      } else {
        const std::uint64_t group = offset < width ? offset >> groupShift_ : groups_;
        const std::uint64_t inGroup = offset & groupMask_;
        std::uint64_t left = weight;
        if constexpr (kWeighted) {
          for (; left > stageWeight_; left -= stageWeight_)
            stage(group, inGroup | ((stageWeight_ - 1) << groupShift_));
        }
        stage(group, inGroup | ((left - 1) << groupShift_));
      }
    }
  }

  // A staged entry: its offset in the group, and its weight less one above it.
  void stage(std::uint64_t group, std::uint64_t entry) {
    std::uint32_t*& at = stageTail_[group];
    __builtin_prefetch(at + 32, 1);  // two lines ahead: the runs' tails are hundreds of streams
    *at++ = static_cast<std::uint32_t>(entry);
    if ((reinterpret_cast<std::uintptr_t>(at) & (kStageBytes - 1)) == 0) spreadGroup(group);
  }

  // The slots of a run from `at` to its end; a whole run's when `at` ends one.
  static std::uint64_t slotsLeft(const std::uint16_t* at) {
    return (kBatchBytes - (reinterpret_cast<std::uintptr_t>(at) & (kBatchBytes - 1))) / sizeof(std::uint16_t);
  }

  // The offset, `weight` times into its region's run: as that many copies,
  // or as one record where that takes less room (and for the offset that
  // reads as the record's mark).
  void toRegion(std::uint64_t region, std::uint16_t offsetInRegion, std::uint64_t weight) {
    std::uint16_t*& at = tail_[region];
    __builtin_prefetch(at + 64, 1);  // two lines ahead
    if (weight >= kRecordSlots || offsetInRegion == kMark) [[unlikely]] {
      toRecords(region, offsetInRegion, weight);
      return;
    }
    for (;;) {
      *at++ = offsetInRegion;
      if (slotsLeft(at) == Counts::kBatch) batchFull(region);
      if (--weight == 0) return;
    }
  }

  // Records [kMark, offset, weight]: a record never straddles two runs, so
  // the slots left before a run's end, too few for one, are filled with marks.
  void toRecords(std::uint64_t region, std::uint16_t offsetInRegion, std::uint64_t weight) {
    std::uint16_t*& at = tail_[region];
    for (; weight > 0;) {
      const std::uint64_t room = slotsLeft(at);
      if (room < kRecordSlots) {
        for (std::uint64_t k = 0; k < room; ++k) *at++ = kMark;
        batchFull(region);
        continue;
      }
      const std::uint64_t part = std::min<std::uint64_t>(weight, kMark);
      at[0] = kMark;
      at[1] = offsetInRegion;
      at[2] = static_cast<std::uint16_t>(part);
      at += kRecordSlots;
      weight -= part;
      if (slotsLeft(at) == Counts::kBatch) batchFull(region);
    }
  }

  // A group's staged sums to their regions' batches.
  void spreadGroup(std::uint64_t group) {
    if (group != groups_) {
      if (weighted_) {
        spreadRun<true>(group);
      } else {
        spreadRun<false>(group);
      }
    }
    stageTail_[group] = stageOf(group);
  }
  template <bool kWeighted>
  void spreadRun(std::uint64_t group) {
    const std::uint64_t firstRegion = group << (groupShift_ - kRegionBits);
    for (const std::uint32_t* entry = stageOf(group); entry < stageTail_[group]; ++entry) {
      const std::uint64_t inGroup = kWeighted ? *entry & groupMask_ : *entry;
      const std::uint64_t weight = kWeighted ? (std::uint64_t{*entry} >> groupShift_) + 1 : 1;
      toRegion(firstRegion + (inGroup >> kRegionBits), inRegion(inGroup), weight);
    }
  }

  // A region's run is full: its region is fetched, the batch that waited is
  // counted, and this one waits in its turn, the region filing on in the run
  // the waiting one frees.
  void batchFull(std::uint64_t region) {
    if (region == regions_) {  // the sums outside the block
      tail_[region] = run_[region];
      return;
    }
    SIGMA_ASSERT(region < regions_);
    counts_.prefetchFields(region);
    countWaiting();
    SIGMA_ASSERT(free_ != nullptr);
    std::uint16_t* full = run_[region];
    run_[region] = tail_[region] = free_;
    free_ = nullptr;
    waiting_ = full;
    waitingRegion_ = region;
  }

  // The batch that waits, counted; its run becomes the free one.
  void countWaiting() {
    if (waiting_ == nullptr) return;
    countRun(waitingRegion_, waiting_, waiting_ + Counts::kBatch);
    free_ = waiting_;
    waiting_ = nullptr;
  }

  // Out of line, so that profiles tell filing from counting.
  [[gnu::noinline]] void countRun(std::uint64_t region, const std::uint16_t* from, const std::uint16_t* to) {
    SIGMA_ASSERT(region < regions_);
    const std::scoped_lock lock(locks_[region]);
    counts_.prefetchSide(region);
    const std::uint64_t base = region << kRegionBits;
    for (const std::uint16_t* entry = from; entry < to; ++entry) {
      if (*entry != kMark) [[likely]] {
        counts_.bump(base + *entry);
        continue;
      }
      if (to - entry < static_cast<std::ptrdiff_t>(kRecordSlots)) break;  // marks to the run's end
      counts_.bumpBy(base + entry[1], entry[2]);
      entry += kRecordSlots - 1;
    }
  }

  Counts& counts_;
  std::vector<std::mutex>& locks_;
  std::uint64_t first_;
  std::uint64_t regions_;  // the run after the regions' runs takes the sums outside the block
  unsigned groupShift_;
  std::uint64_t groupMask_;    // an offset's place in its group
  std::uint64_t stageWeight_;  // the largest weight a staged entry holds above its offset
  bool weighted_ = false;      // whether any entry had a weight: staged entries then hold one
  std::uint64_t groups_;       // 0 when the sums go straight to the regions
  std::uint16_t* batches_;
  std::uint32_t* staging_;
  std::vector<std::uint16_t*> run_;   // each region's run of sums being filed
  std::vector<std::uint16_t*> tail_;  // where each region's next sum goes
  std::uint16_t* free_;               // the run a full one is swapped for
  std::uint16_t* waiting_ = nullptr;  // a full run not yet counted
  std::uint64_t waitingRegion_ = 0;
  std::vector<std::uint32_t*> stageTail_;  // where each group's next sum goes
};

}  // namespace arith
