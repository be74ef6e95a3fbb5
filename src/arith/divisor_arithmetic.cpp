#include "arith/divisor_arithmetic.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "arith/parallel.hpp"
#include "arith/sigma_inverse.hpp"
#include "arith/sigma_sieve.hpp"
#include "arith/wide.hpp"
#include "arith/zeroed_pages.hpp"

namespace arith {

using common::Count;
using common::Int64;

namespace {

unsigned defaultThreads(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

// Exact counts of the few values of a region that reach 255: a small open-
// addressing table keyed by the value's offset in the block.
class LargeCounts {
 public:
  LargeCounts() : slots_(16) {}

  Count& operator[](std::uint32_t offset) {
    if (4 * (used_ + 1) > 3 * slots_.size()) grow();
    Slot& slot = find(offset);
    if (slot.key == 0) {
      slot.key = offset + 1;
      ++used_;
    }
    return slot.count;
  }
  template <class Visit>
  void forEach(const Visit& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.key != 0) visit(slot.key - 1, slot.count);
    }
  }

 private:
  struct Slot {
    std::uint32_t key = 0;  // offset + 1; 0 for an empty slot
    Count count = 0;
  };
  Slot& find(std::uint32_t offset) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t k = static_cast<std::size_t>(offset * 0x9E3779B1u) & mask;
    while (slots_[k].key != 0 && slots_[k].key != offset + 1) k = (k + 1) & mask;
    return slots_[k];
  }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.key != 0) find(slot.key - 1) = slot;
    }
  }
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

// Counts of a block of values, one byte each. A byte of 255 means 255 or
// more: the exact count is then in the side table of the value's region,
// which only a few values in a thousand ever need.
class ByteCounts {
 public:
  explicit ByteCounts(std::uint64_t size) : small_(size) {}

  const std::uint8_t* address(std::uint64_t offset) const { return small_.data() + offset; }

  // Callers make sure no two threads bump the same value at once.
  void bump(std::uint64_t offset, LargeCounts& large) {
    std::uint8_t& c = small_.data()[offset];
    if (c < kLarge - 1) {
      ++c;
    } else if (c == kLarge - 1) {
      c = kLarge;
      large[static_cast<std::uint32_t>(offset)] = kLarge;
    } else {
      ++large[static_cast<std::uint32_t>(offset)];
    }
  }

  // counts[k] = the count of offset start + k; `large` holds the exact counts
  // of the bytes at 255, sorted by offset, and `next` is its first entry not yet used.
  void copy(std::uint64_t start, std::span<Count> counts,
            const std::vector<std::pair<std::uint64_t, Count>>& large, std::size_t& next) const {
    const std::uint8_t* small = small_.data() + start;
    for (std::size_t k = 0; k < counts.size(); ++k) counts[k] = small[k];
    for (; next < large.size() && large[next].first < start + counts.size(); ++next) {
      counts[large[next].first - start] = large[next].second;
    }
  }

 private:
  static constexpr std::uint8_t kLarge = 255;
  ZeroedPages small_;
};

// Calls visit(block) for the planned blocks of [from, to] in order, while it returns true.
template <class Visit>
void forEachBlock(const CensusPlanner& planner, std::uint64_t from, std::uint64_t to, const Visit& visit) {
  for (;;) {
    const BlockPlan block = planner.plan(from, to);
    if (!visit(block) || block.last == to) return;
    from = block.last + 1;
  }
}

}  // namespace

DivisorArithmetic::DivisorArithmetic(unsigned threads, std::uint64_t blockValues)
    : threads_(defaultThreads(threads)), engine_(table_), planner_(threads_, blockValues) {}

void DivisorArithmetic::countDivisorSums(Int64 L1, Int64 L2, const CountSink& sink,
                                         const ProgressSink& progress) {
  const auto from = static_cast<std::uint64_t>(L1);
  const auto to = static_cast<std::uint64_t>(L2);
  // The estimated cost of the whole interval, to report progress by; for
  // intervals of very many blocks, the share of values done stands in for it.
  constexpr int kPlannedAhead = 4096;
  double total = 0;
  int planned = 0;
  forEachBlock(planner_, from, to, [&](const BlockPlan& block) {
    total += block.cost;
    return ++planned < kPlannedAhead;
  });
  const bool byCost = planned < kPlannedAhead;
  const double width = static_cast<double>(to - from) + 1;
  double doneBefore = 0;
  forEachBlock(planner_, from, to, [&](const BlockPlan& block) {
    runBlock(block, sink, [&](double share) {
      if (!progress) return;
      if (byCost) {
        progress(total > 0 ? std::min(1.0, (doneBefore + share * block.cost) / total) : 1.0);
      } else {
        progress((static_cast<double>(block.first - from) +
                  share * static_cast<double>(block.last - block.first + 1)) /
                 width);
      }
    });
    doneBefore += block.cost;
    return true;
  });
}

void DivisorArithmetic::countWith(Method method, Int64 L1, Int64 L2, const CountSink& sink) {
  forEachBlock(planner_, static_cast<std::uint64_t>(L1), static_cast<std::uint64_t>(L2),
               [&](BlockPlan block) {
                 block.method = method;
                 block.lowestCandidate = lowestCandidate(block.first);
                 runBlock(block, sink, [](double) {});
                 return true;
               });
}

void DivisorArithmetic::runBlock(const BlockPlan& block, const CountSink& sink,
                                 const std::function<void(double)>& done) {
  if (block.method == Method::Sieve) {
    sieveBlock(block, sink, done);
  } else {
    invertBlock(block, sink, done);
  }
}

void DivisorArithmetic::sieveBlock(const BlockPlan& block, const CountSink& sink,
                                   const std::function<void(double)>& done) {
  const std::uint64_t first = block.first;
  const std::uint64_t width = block.last - block.first + 1;
  // Every m > 1 has sigma(m) > m, so the candidates stop below the last value;
  // m = 1 (sigma 1) is always taken.
  const std::uint64_t lo = block.lowestCandidate;
  const std::uint64_t hi = std::max<std::uint64_t>(block.last, 2);
  constexpr unsigned kRegionBits = CensusPlanner::kRegionBits;
  constexpr std::uint64_t kBatch = CensusPlanner::kBatch;  // four sums per cache line of a region
  constexpr std::uint64_t kBatchBytes = kBatch * sizeof(std::uint16_t);
  constexpr std::uint64_t kChunk = CensusPlanner::kSieveChunk;
  // A full batch is found by its tail reaching an address aligned on the batch's size.
  static_assert((kBatchBytes & (kBatchBytes - 1)) == 0, "a batch's size in bytes is a power of two");
  static_assert(kBatch <= (std::uint64_t{1} << kRegionBits), "offsets in a region fit 16 bits");
  table_.extendPast(static_cast<Int64>(isqrt(hi - 1)));

  ByteCounts counts(width);
  // Each thread sieves chunks of candidates in turn and files the sums that
  // fall in the block by region of 2^16 values, in a batch per region; a full
  // batch is counted at once, under its region's lock. Counting the sums as
  // they come would miss the cache at nearly every one of them; a batch puts
  // several counts on every cache line of its region.
  const std::uint64_t regions = ((width - 1) >> kRegionBits) + 1;
  std::vector<std::mutex> locks(regions);
  std::vector<LargeCounts> large(regions);  // each guarded by its region's lock
  std::atomic<std::uint64_t> nextChunk{lo};
  runParallel(threads_, [&](unsigned t) {
    // Region r's batch is the r-th run of kBatch entries; tail[r] is where its
    // next entry goes. Runs are aligned on their size, so a tail that reaches
    // an aligned address has filled its run.
    ZeroedPages batches((regions + 1) * kBatchBytes);
    const auto address = reinterpret_cast<std::uintptr_t>(batches.data());
    auto* batch = reinterpret_cast<std::uint16_t*>(batches.data() +
                                                   (kBatchBytes - address % kBatchBytes) % kBatchBytes);
    auto runOf = [batch](std::uint64_t region) { return batch + region * kBatch; };
    std::vector<std::uint16_t*> tail(regions);
    for (std::uint64_t region = 0; region < regions; ++region) tail[region] = runOf(region);
    auto countBatch = [&](std::uint64_t region) {
      const std::scoped_lock lock(locks[region]);
      const std::uint64_t base = region << kRegionBits;
      // Bring the whole region in at once: the sums land all over it.
      const std::uint64_t end = std::min(width, base + (std::uint64_t{1} << kRegionBits));
      for (std::uint64_t line = base; line < end; line += 64) __builtin_prefetch(counts.address(line), 1);
      for (const std::uint16_t* entry = runOf(region); entry < tail[region]; ++entry) {
        counts.bump(base + *entry, large[region]);
      }
      tail[region] = runOf(region);
    };
    SigmaSieve sieve(table_.Nprem);
    for (std::uint64_t start = nextChunk.fetch_add(kChunk); start < hi; start = nextChunk.fetch_add(kChunk)) {
      sieve.start(start, std::min(hi, start + kChunk));
      for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
        for (const std::uint64_t sigma : sums) {
          const std::uint64_t offset = sigma - first;  // wraps when sigma < first
          if (offset >= width) continue;
          const std::uint64_t region = offset >> kRegionBits;
          std::uint16_t*& at = tail[region];
          *at++ = static_cast<std::uint16_t>(offset);
          if ((reinterpret_cast<std::uintptr_t>(at) & (kBatchBytes - 1)) == 0) countBatch(region);
        }
      }
      // Progress is told from one thread only.
      if (t == 0)
        done(static_cast<double>(std::min(hi, start + kChunk) - lo) / static_cast<double>(hi - lo) * 0.95);
    }
    for (std::uint64_t region = 0; region < regions; ++region) {
      if (tail[region] != runOf(region)) countBatch(region);
    }
  });

  // The exact counts of the values at 255 or more, in order.
  std::vector<std::pair<std::uint64_t, Count>> largeSorted;
  for (const auto& part : large) {
    part.forEach([&](std::uint64_t offset, Count count) { largeSorted.emplace_back(offset, count); });
  }
  std::sort(largeSorted.begin(), largeSorted.end());
  std::size_t nextLarge = 0;
  std::vector<Count> out(std::min(CensusPlanner::kInversionBlock, width));
  for (std::uint64_t start = 0; start < width; start += CensusPlanner::kInversionBlock) {
    const std::span<Count> part(out.data(), std::min(CensusPlanner::kInversionBlock, width - start));
    counts.copy(start, part, largeSorted, nextLarge);
    sink(static_cast<Int64>(first + start), part);
  }
  done(1.0);
}

void DivisorArithmetic::invertBlock(const BlockPlan& block, const CountSink& sink,
                                    const std::function<void(double)>& done) {
  if (!factorizer_) factorizer_ = std::make_unique<Factorizer>(table_);
  if (!cubicSums_) cubicSums_ = std::make_unique<CubicSums>(table_);
  const std::uint64_t width = block.last - block.first + 1;
  std::vector<Count> out;
  for (std::uint64_t start = 0; start < width; start += CensusPlanner::kInversionBlock) {
    const std::uint64_t size = std::min(CensusPlanner::kInversionBlock, width - start);
    const std::uint64_t first = block.first + start;
    out.assign(size, 0);
    // Values are handed out in small batches: their costs vary widely.
    constexpr std::uint64_t kBatch = 16;
    std::atomic<std::uint64_t> next{0};
    runParallel(threads_, [&](unsigned) {
      SigmaInverse inverse(*factorizer_, *cubicSums_);
      for (std::uint64_t k = next.fetch_add(kBatch); k < size; k = next.fetch_add(kBatch)) {
        const std::uint64_t stop = std::min(size, k + kBatch);
        for (std::uint64_t j = k; j < stop; ++j) out[j] = inverse.count(first + j);
      }
    });
    sink(static_cast<Int64>(first), out);
    done(static_cast<double>(start + size) / static_cast<double>(width));
  }
}

}  // namespace arith
