// The counts of one block of values while the sieve fills them, in 4 or 8
// bits a value: nearly every value has a small count (on [1, 10^10], 86 %
// have count 0). The largest field value, the escape, means "that many or
// more": the exact count is then in the side table of the value's region.
// Half the sums of a wide block land on the few values past 15 (the values
// rich in divisors), so 8 bits count faster and 4 bits hold twice the block.
// Near 2^40 a third of them land on values past 191, a dozen or two a region:
// in 8 bits the field values from kTop on name one of the region's kIds
// exact counts, kept in an array, and only the values past those go to the
// side table.
//
// The block is cut into regions of 2^kRegionBits values. A region is counted
// by one thread at a time (the caller's lock), and its fields fill whole
// bytes, so two threads never write the same byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "arith/counts/count_histogram.hpp"
#include "common/check.hpp"
#include "common/widths.hpp"

namespace arith {

// The exact counts of the values of one region whose field is at the escape:
// a small open-addressing table keyed by the value's offset in the region.
class LargeCounts {
 public:
  LargeCounts() : slots_(16) {}
  common::Count& operator[](std::uint32_t offset);
  // The count of an offset already in the table: no growth to check.
  common::Count& existing(std::uint32_t offset) {
    Slot& slot = find(offset);
    SIGMA_ASSERT(slot.key == offset + 1);
    return slot.count;
  }
  std::size_t size() const { return used_; }
  // Calls visit(offset, count) for every entry, in no particular order.
  template <class Visit>
  void forEach(const Visit& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.key != 0) visit(slot.key - 1, slot.count);
    }
  }

 private:
  struct Slot {
    std::uint32_t key = 0;  // offset + 1; 0 for an empty slot
    common::Count count = 0;
  };
  Slot& find(std::uint32_t offset) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t k = static_cast<std::size_t>(offset * 0x9E3779B1u) & mask;
    while (slots_[k].key != 0 && slots_[k].key != offset + 1) k = (k + 1) & mask;
    return slots_[k];
  }
  void grow();
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

template <unsigned kBits>
class BlockCounts {
 public:
  static_assert(kBits == 4 || kBits == 8, "fields fill whole bytes");
  static constexpr unsigned kRegionBits = 16;
  static constexpr std::uint64_t kRegionValues = std::uint64_t{1} << kRegionBits;
  static constexpr unsigned kEscape = (1u << kBits) - 1;
  // Field values below kTop are counts; from kTop to kEscape - 1 they name
  // one of the region's rich counts (none in 4 bits).
  static constexpr unsigned kTop = kBits == 8 ? 192 : kEscape;
  static constexpr unsigned kIds = kEscape - kTop;
  static_assert(kIds < 256, "a region's count of rich values fits a byte");
  static constexpr std::uint64_t kPerByte = 8 / kBits;

  static constexpr std::uint64_t bytesFor(std::uint64_t values) { return (values + kPerByte - 1) / kPerByte; }
  static constexpr std::uint64_t regionsFor(std::uint64_t values) {
    return values == 0 ? 0 : ((values - 1) >> kRegionBits) + 1;
  }
  // What the side tables and rich counts may take, in all: on [1, 10^10]
  // about one value in a hundred passes 14, and a table holds a value in 16
  // to 32 bytes; past 191, far fewer, and each region has its kIds counts.
  static constexpr std::uint64_t sideBytesFor(std::uint64_t values) {
    return (kBits == 4 ? values / 4 : values / 64) + regionsFor(values) * (kIds * sizeof(common::Count) + 1);
  }

  // `bytes`: bytesFor(values) bytes, all zero, that outlive this object.
  BlockCounts(std::uint8_t* bytes, std::uint64_t values);

  std::uint64_t values() const { return values_; }
  std::uint64_t regions() const { return large_.size(); }

  // Reads a region's fields and rich counts in, a line at a time in order,
  // ahead of the sums counted there; the caller holds the region. Read in
  // order, the lines stream in at the memory's pace: with a prefetch
  // instruction a line instead, near 2^40 the counting of the filed sums
  // took 2.3 times as long, each miss waiting its turn.
  void fetchRegion(std::uint64_t region) const;
  // The same for every region of the values [from, to) (none when from >= to).
  void fetchValues(std::uint64_t from, std::uint64_t to) const {
    for (std::uint64_t r = from >> kRegionBits; r << kRegionBits < std::min(to, values_); ++r) fetchRegion(r);
  }

  // One more m for the value at `offset`; the caller holds its region.
  void bump(std::uint64_t offset) { bumpBy(offset, 1); }
  // `weight` more m for the value at `offset`; the caller holds its region.
  void bumpBy(std::uint64_t offset, std::uint64_t weight) {
    std::uint8_t& byte = bytes_[offset / kPerByte];
    const unsigned shift = static_cast<unsigned>(offset % kPerByte) * kBits;
    const unsigned field = (byte >> shift) & kEscape;
    if (field + weight < kTop) [[likely]] {
      byte = static_cast<std::uint8_t>(byte + (weight << shift));
    } else if (field >= kTop && field < kEscape) {
      rich_[(offset >> kRegionBits) * kIds + (field - kTop)] += static_cast<common::Count>(weight);
    } else {
      bumpPast(byte, shift, field, offset, weight);
    }
  }

  // counts[k] = the count of the value at offset start + k.
  void copy(std::uint64_t start, std::span<common::Count> counts) const;
  // Adds the counts of the values of one region to `histogram`.
  void tallyRegion(std::uint64_t region, CountHistogram& histogram) const;
  // Sets a region's fields to zero, once it is read: its side table and rich
  // counts no longer match them.
  void clearRegion(std::uint64_t region);

 private:
  // `weight` more for a value whose count reaches kTop with them, or whose
  // field is at the escape.
  void bumpPast(std::uint8_t& byte, unsigned shift, unsigned field, std::uint64_t offset,
                std::uint64_t weight);
  // The count of a value at kTop - 1 becomes kTop: one of the region's rich counts, or the side table's.
  void reachTop(std::uint8_t& byte, unsigned shift, std::uint64_t offset);

  std::uint8_t* bytes_;
  std::uint64_t values_;
  std::vector<LargeCounts> large_;      // one per region
  std::vector<common::Count> rich_;     // kIds per region
  std::vector<std::uint8_t> richUsed_;  // how many of its rich counts each region has named
};

extern template class BlockCounts<4>;
extern template class BlockCounts<8>;

}  // namespace arith
