#include "arith/blocks/block_counter.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <type_traits>

#include "arith/blocks/parallel.hpp"
#include "arith/blocks/sum_filer.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

static_assert(BlockCounts<4>::kRegionBits == BlockCounts<8>::kRegionBits, "one region size for every width");

// Calls act(BlockCounts<bits>{}) for the width of counts a block is planned with.
template <class Act>
void withCountWidth(unsigned bits, const Act& act) {
  SIGMA_ASSERT(bits == 4 || bits == 8);
  if (bits == 4) {
    act(std::type_identity<BlockCounts<4>>{});
  } else {
    act(std::type_identity<BlockCounts<8>>{});
  }
}

}  // namespace

BlockCounter::BlockCounter(unsigned threads) : threads_(threads), pools_(threads), poolBytes_(threads, 0) {}

std::uint64_t BlockCounter::bytesFor(std::uint64_t values, unsigned threads, unsigned bits) {
  std::uint64_t bytes = 0;
  withCountWidth(bits, [&]<class Counts>(std::type_identity<Counts>) {
    const std::uint64_t filing = SumFiler<Counts>::poolBytes(values);
    bytes =
        Counts::bytesFor(values) + Counts::sideBytesFor(values) + threads * (filing + kSourceBytesPerThread);
  });
  return bytes;
}

std::uint8_t* BlockCounter::zeroedCounts(std::uint64_t bytes) {
  // Cleared by every thread at once: fresh pages are faulted in, used ones
  // cleared where the last block left them written.
  std::uint64_t clear = dirtyBytes_;
  const bool fresh = bytes > countsBytes_;
  if (fresh) {
    counts_.reset();  // the old pages go back before the new ones come
    counts_ = std::make_unique<ZeroedPages>(bytes);
    countsBytes_ = bytes;
    clear = bytes;
  }
  std::uint8_t* data = counts_->data();
  // Fresh pages of a wide block take seconds to fault in: cleared in pieces
  // of whole huge pages, with a look at the stop flag between them.
  constexpr std::uint64_t kPiece = std::uint64_t{64} << 20;
  const std::uint64_t pieces = (clear + kPiece - 1) / kPiece;
  runParallel(threads_, [&](unsigned t) {
    for (std::uint64_t piece = pieces * t / threads_; piece < pieces * (t + 1) / threads_; ++piece) {
      throwIfStopped(stop_);
      const std::uint64_t from = piece * kPiece;
      const std::uint64_t size = std::min(kPiece, clear - from);
      if (!fresh || !counts_->populate(from, size)) std::memset(data + from, 0, size);
    }
  });
  dirtyBytes_ = bytes;
  return data;
}

std::uint8_t* BlockCounter::threadMemory(std::vector<std::unique_ptr<ZeroedPages>>& kept,
                                         std::vector<std::uint64_t>& sizes, unsigned thread,
                                         std::uint64_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes > sizes[thread]) {
    kept[thread].reset();
    kept[thread] = std::make_unique<ZeroedPages>(bytes);
    sizes[thread] = bytes;
  }
  return kept[thread]->data();
}

template <class Counts>
Counts BlockCounter::fill(SumSource& source, std::uint64_t first, std::uint64_t last,
                          const ProgressSink& done, double prepared, const SlabVisit<Counts>& visit) {
  const std::uint64_t width = last - first + 1;
  source.prepare(first, last, threads_);
  // Progress: the shared preparation's share first, then the sums'.
  const ProgressSink preparing = [&](double share) { done(prepared * share); };
  const ProgressSink producing = [&](double share) { done(prepared + (1 - prepared) * share); };
  runParallel(threads_, [&](unsigned t) {
    source.prepareShared(
        t, [stop = stop_] { throwIfStopped(stop); }, t == 0 && done ? preparing : ProgressSink{});
  });
  Counts counts(zeroedCounts(Counts::bytesFor(width)), width);
  using Filer = SumFiler<Counts>;
  std::vector<std::mutex> locks(Filer::slabsFor(width));
  // One filer a thread, for both rounds: what it holds is counted at its flush.
  std::vector<std::optional<Filer>> filers(threads_);
  auto filing = [&](unsigned t) -> SumSource::Filing {
    return [&filer = *filers[t], stop = stop_](std::span<const std::uint64_t> sums, bool weighted) {
      throwIfStopped(stop);
      if (weighted) {
        filer.fileWeighted(sums);
      } else {
        filer.file(sums);
      }
    };
  };
  runParallel(threads_, [&](unsigned t) {
    const std::uint64_t poolBytes = Filer::poolBytes(width);
    std::uint8_t* pool = threadMemory(pools_, poolBytes_, t, poolBytes);
    filers[t].emplace(pool, poolBytes_[t], counts, locks, first, stop_);
    source.produce(t, filing(t), t == 0 && done ? producing : ProgressSink{});
  });
  runParallel(threads_, [&](unsigned t) { source.produceGathered(t, filing(t)); });
  countSlabs(source, counts, first, std::span(filers), visit);
  return counts;
}

// What is left to count, slab by slab, each slab's regions held by the one
// thread that claimed it: every filer's sums still pending there (a wide
// block's filers hold about a gigabyte of them each, and the thread whose
// walk ended last would count its own alone), then the source's dense sums;
// the slab is then visited while it is still in the thread's cache. The
// slab's counts come from memory (the block before cleared them there): they
// are read in first, in order, where the pending sums' first touches would
// wait on one line at a time.
template <class Counts>
void BlockCounter::countSlabs(const SumSource& source, Counts& counts, std::uint64_t first,
                              std::span<std::optional<SumFiler<Counts>>> filers,
                              const SlabVisit<Counts>& visit) {
  const DenseSums* dense = source.dense();
  const bool summed = dense != nullptr && !dense->intervals.empty();
  constexpr std::uint64_t kSlab = SumFiler<Counts>::kSlabValues;
  const std::uint64_t slabs = (counts.values() - 1) / kSlab + 1;
  std::atomic<std::uint64_t> nextSlab{0};
  runParallel(threads_, [&](unsigned t) {
    for (std::uint64_t s = nextSlab.fetch_add(1); s < slabs; s = nextSlab.fetch_add(1)) {
      throwIfStopped(stop_);
      const std::uint64_t to = std::min(counts.values(), (s + 1) * kSlab);
      counts.fetchValues(s * kSlab, to);
      for (std::optional<SumFiler<Counts>>& filer : filers) filer->countPending(s);
      if (summed) countDenseSlab(*dense, counts, first, s * kSlab, to);
      if (visit) visit(t, counts, s * kSlab, to);
    }
  });
}

template <class Counts>
void BlockCounter::countWith(SumSource& source, std::uint64_t first, std::uint64_t last,
                             const CountSink& sink, const ProgressSink& done, BlockSample* sample,
                             double prepared) {
  const Counts counts = fill<Counts>(source, first, last, done, prepared);
  const std::uint64_t width = last - first + 1;
  std::vector<common::Count> out(std::min(kSpan, width));
  for (std::uint64_t start = 0; start < width; start += kSpan) {
    const std::span<common::Count> part(out.data(), std::min(kSpan, width - start));
    counts.copy(start, part);
    if (sample != nullptr) sample->capture(first + start, part);
    sink(static_cast<common::Int64>(first + start), part);
  }
  if (done) done(1.0);
}

template <class Counts>
void BlockCounter::tallyWith(SumSource& source, std::uint64_t first, std::uint64_t last,
                             CountHistogram& histogram, const ProgressSink& done, BlockSample* sample,
                             double prepared) {
  // Each slab's regions tallied right after its dense sums, while they are
  // in the cache, its sampled values read, and the slab cleared for the next
  // block: no pass over the whole block's memory to clear it (near 2^40, a
  // few seconds a block of 2^32 values from memory, against stores to lines
  // in the cache).
  std::vector<CountHistogram> parts(threads_);
  if (sample != nullptr) sample->counts.assign(sample->values.size(), -1);
  const auto tallySlab = [&](unsigned t, Counts& counts, std::uint64_t from, std::uint64_t to) {
    if (sample != nullptr) {
      const auto begin = std::ranges::lower_bound(sample->values, first + from);
      for (auto it = begin; it != sample->values.end() && *it < first + to; ++it) {
        const auto k = static_cast<std::size_t>(it - sample->values.begin());
        counts.copy(*it - first, std::span<common::Count>(&sample->counts[k], 1));
      }
    }
    for (std::uint64_t r = from / Counts::kRegionValues; r * Counts::kRegionValues < to; ++r) {
      counts.tallyRegion(r, parts[t]);
      counts.clearRegion(r);
    }
  };
  fill<Counts>(source, first, last, done, prepared, tallySlab);
  dirtyBytes_ = 0;  // every slab was cleared once tallied
  for (const CountHistogram& part : parts) histogram.add(part);
  if (done) done(1.0);
}

void BlockCounter::count(SumSource& source, std::uint64_t first, std::uint64_t last, unsigned bits,
                         const CountSink& sink, const ProgressSink& done, BlockSample* sample,
                         double prepared) {
  withCountWidth(bits, [&]<class Counts>(std::type_identity<Counts>) {
    countWith<Counts>(source, first, last, sink, done, sample, prepared);
  });
}

void BlockCounter::tally(SumSource& source, std::uint64_t first, std::uint64_t last, unsigned bits,
                         CountHistogram& histogram, const ProgressSink& done, BlockSample* sample,
                         double prepared) {
  withCountWidth(bits, [&]<class Counts>(std::type_identity<Counts>) {
    tallyWith<Counts>(source, first, last, histogram, done, sample, prepared);
  });
}

void BlockCounter::release() {
  counts_.reset();
  countsBytes_ = 0;
  dirtyBytes_ = 0;
  for (auto& pool : pools_) pool.reset();
  std::fill(poolBytes_.begin(), poolBytes_.end(), 0);
}

}  // namespace arith
