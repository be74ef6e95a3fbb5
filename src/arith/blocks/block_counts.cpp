#include "arith/blocks/block_counts.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/check.hpp"

namespace arith {

using common::Count;

namespace {

using Lanes = std::uint8_t __attribute__((vector_size(16)));

// Bit i set where lane i of `lanes` (each 0 or 0xFF) is set.
unsigned laneMask(Lanes lanes) {
#if defined(__SSE2__)
  return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)));
#else
  unsigned mask = 0;
  for (unsigned lane = 0; lane < sizeof(Lanes); ++lane) mask |= (lanes[lane] & 1u) << lane;
  return mask;
#endif
}

// Adds to tally[b] how many of the n bytes from `bytes` on are b. Most
// counts are small: the bytes 0 to kCommon - 1 are counted sixteen at a time
// by vector compares (each lane's sums taken in before they pass 255). The
// others, a byte in fifty near 5 x 10^11, are copied out without a branch,
// the first two of each vector always (to a slot that the next copy takes
// again when there is none), and tallied after each round: a branch on
// whether a vector held one went wrong a third of the time, and took more
// than half the tally's time.
void tallyBytes(const std::uint8_t* bytes, std::uint64_t n, std::array<std::uint32_t, 256>& tally) {
  constexpr unsigned kCommon = 4;
  constexpr unsigned kRounds = 255;
  constexpr unsigned kNone = 1u << sizeof(Lanes);  // a mask bit past the lanes: its lane is padding
  std::array<std::uint8_t, 2 * sizeof(Lanes)> lane{};
  std::array<std::uint8_t, kRounds * sizeof(Lanes) + 1> found;  // + 1: the copy of a vector with none
  std::uint64_t i = 0;
  while (n - i >= sizeof(Lanes)) {
    std::array<Lanes, kCommon> sums{};
    std::size_t k = 0;
    for (unsigned round = 0; round < kRounds && n - i >= sizeof(Lanes); ++round, i += sizeof(Lanes)) {
      Lanes lanes;
      std::memcpy(&lanes, bytes + i, sizeof lanes);
      for (unsigned b = 0; b < kCommon; ++b)
        sums[b] -= reinterpret_cast<Lanes>(lanes == static_cast<std::uint8_t>(b));  // a true lane is -1
      const unsigned mask = laneMask(reinterpret_cast<Lanes>(lanes >= static_cast<std::uint8_t>(kCommon)));
      std::memcpy(lane.data(), &lanes, sizeof lanes);
      const unsigned rest = mask & (mask - 1);
      found[k] = lane[std::countr_zero(mask | kNone)];
      k += (mask + kNone - 1) >> sizeof(Lanes);  // 1 if a lane is flagged, with no branch
      found[k] = lane[std::countr_zero(rest | kNone)];
      k += (rest + kNone - 1) >> sizeof(Lanes);
      for (unsigned more = rest & (rest - 1); more != 0; more &= more - 1)
        found[k++] = lane[std::countr_zero(more)];
    }
    for (unsigned b = 0; b < kCommon; ++b) {
      for (unsigned l = 0; l < sizeof(Lanes); ++l) tally[b] += sums[b][l];
    }
    for (std::size_t j = 0; j < k; ++j) ++tally[found[j]];
  }
  for (; i < n; ++i) ++tally[bytes[i]];
}

}  // namespace

Count& LargeCounts::operator[](std::uint32_t offset) {
  if (4 * (used_ + 1) > 3 * slots_.size()) grow();
  Slot& slot = find(offset);
  if (slot.key == 0) {
    slot.key = offset + 1;
    ++used_;
  }
  return slot.count;
}

void LargeCounts::grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.key != 0) find(slot.key - 1) = slot;
  }
}

template <unsigned kBits>
BlockCounts<kBits>::BlockCounts(std::uint8_t* bytes, std::uint64_t values)
    : bytes_(bytes),
      values_(values),
      large_(regionsFor(values)),
      rich_(large_.size() * kIds),
      richUsed_(large_.size()) {}

template <unsigned kBits>
void BlockCounts<kBits>::bumpPast(std::uint8_t& byte, unsigned shift, unsigned field, std::uint64_t offset,
                                  std::uint64_t weight) {
  SIGMA_ASSERT(weight > 0);
  if (field < kTop) {  // up to kTop - 1 in the field, then one more moves the count past it
    SIGMA_ASSERT(field + weight >= kTop);
    const unsigned fill = kTop - 1 - field;
    byte = static_cast<std::uint8_t>(byte + (fill << shift));
    weight -= fill;
    reachTop(byte, shift, offset);
    if (--weight == 0) return;
    field = (byte >> shift) & kEscape;
  }
  const std::uint64_t region = offset >> kRegionBits;
  const auto added = static_cast<Count>(weight);
  SIGMA_ASSERT(added > 0 && static_cast<std::uint64_t>(added) == weight);
  if (field == kEscape) {
    large_[region].existing(static_cast<std::uint32_t>(offset & (kRegionValues - 1))) += added;
  } else {
    rich_[region * kIds + (field - kTop)] += added;
  }
}

template <unsigned kBits>
void BlockCounts<kBits>::reachTop(std::uint8_t& byte, unsigned shift, std::uint64_t offset) {
  const std::uint64_t region = offset >> kRegionBits;
  SIGMA_ASSERT(((byte >> shift) & kEscape) == kTop - 1);
  unsigned next = kEscape;
  if (richUsed_[region] < kIds) {
    next = kTop + richUsed_[region];
    rich_[region * kIds + richUsed_[region]] = kTop;
    ++richUsed_[region];
  } else {
    large_[region][static_cast<std::uint32_t>(offset & (kRegionValues - 1))] = kTop;
  }
  byte = static_cast<std::uint8_t>((byte & ~(kEscape << shift)) | (next << shift));
}

template <unsigned kBits>
void BlockCounts<kBits>::fetchRegion(std::uint64_t region) const {
  // A byte a line, summed so that the reads stay: the lines then sit in the
  // L2 cache, which holds a slab's fields (eight regions) and its rich counts.
  const std::uint64_t first = (region << kRegionBits) / kPerByte;
  const std::uint64_t end = std::min(bytesFor(values_), first + kRegionValues / kPerByte);
  unsigned sum = 0;
  for (std::uint64_t at = first; at < end; at += 64) sum += bytes_[at];
  if constexpr (kIds > 0) {
    const auto* rich = reinterpret_cast<const unsigned char*>(rich_.data() + region * kIds);
    for (std::uint64_t at = 0; at < kIds * sizeof(Count); at += 64) sum += rich[at];
  }
  __asm__ volatile("" : : "r"(sum));
}

template <unsigned kBits>
void BlockCounts<kBits>::copy(std::uint64_t start, std::span<Count> counts) const {
  SIGMA_ASSERT(start + counts.size() <= values_);
  for (std::size_t k = 0; k < counts.size(); ++k) {
    const std::uint64_t offset = start + k;
    const unsigned field = (bytes_[offset / kPerByte] >> ((offset % kPerByte) * kBits)) & kEscape;
    counts[k] =
        field < kTop || field == kEscape ? field : rich_[(offset >> kRegionBits) * kIds + (field - kTop)];
  }
  // The escaped values of the regions the span meets.
  const std::uint64_t end = start + counts.size();
  for (std::uint64_t region = start >> kRegionBits; region < large_.size() && (region << kRegionBits) < end;
       ++region) {
    large_[region].forEach([&](std::uint32_t key, Count count) {
      const std::uint64_t offset = (region << kRegionBits) + key;
      if (offset >= start && offset < end) counts[offset - start] = count;
    });
  }
}

template <unsigned kBits>
void BlockCounts<kBits>::tallyRegion(std::uint64_t region, CountHistogram& histogram) const {
  const std::uint64_t first = region << kRegionBits;
  const std::uint64_t last = std::min(values_, first + kRegionValues);  // one past
  // A region has at most 2^16 bytes: each tally fits 32 bits.
  std::array<std::uint32_t, 256> tally{};
  const std::uint64_t fullBytes = (last - first) / kPerByte;
  tallyBytes(bytes_ + first / kPerByte, fullBytes, tally);
  std::array<Count, kEscape + 1> fields{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    for (unsigned shift = 0; shift < 8; shift += kBits) fields[(byte >> shift) & kEscape] += tally[byte];
  }
  // The fields of a last byte that the block fills only in part.
  for (std::uint64_t offset = first + fullBytes * kPerByte; offset < last; ++offset)
    ++fields[(bytes_[offset / kPerByte] >> ((offset % kPerByte) * kBits)) & kEscape];
  // Every field at the escape has its exact count in the side table, and
  // every rich count is named by one field.
  SIGMA_ASSERT(fields[kEscape] == static_cast<Count>(large_[region].size()));
  for (unsigned n = 0; n < kTop; ++n) histogram.add(n, fields[n]);
  for (unsigned id = 0; id < richUsed_[region]; ++id) {
    SIGMA_ASSERT(fields[kTop + id] == 1);
    histogram.add(rich_[region * kIds + id]);
  }
  large_[region].forEach([&](std::uint32_t, Count count) { histogram.add(count); });
}

template <unsigned kBits>
void BlockCounts<kBits>::clearRegion(std::uint64_t region) {
  const std::uint64_t first = region << kRegionBits;
  const std::uint64_t last = std::min(values_, first + kRegionValues);  // one past
  SIGMA_ASSERT(first % kPerByte == 0);
  std::memset(bytes_ + first / kPerByte, 0, bytesFor(last) - first / kPerByte);
}

template class BlockCounts<4>;
template class BlockCounts<8>;

}  // namespace arith
