// Counts one block of values from the divisor sums a source produces (the
// candidates' sieve, or the walk by largest prime factor): each thread files
// its sums (sum_filer.hpp); then the counts go to the census, value by value
// or as a histogram tallied region by region.
//
// The memory of the counts and of the filing is kept from block to block of a
// calculation: fresh pages cost far more to fault in than to clear.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "arith/blocks/block_counts.hpp"
#include "arith/blocks/sum_source.hpp"
#include "arith/blocks/zeroed_pages.hpp"
#include "arith/counts/block_sample.hpp"
#include "arith/counts/count_histogram.hpp"
#include "arith/counts/sinks.hpp"

namespace arith {

template <class Counts>
class SumFiler;

class BlockCounter {
 public:
  // Counts handed to a sink at once.
  static constexpr std::uint64_t kSpan = std::uint64_t{1} << 16;

  explicit BlockCounter(unsigned threads);
  // Every thread looks at `stop` whenever it files sums (nullptr: never stopped).
  void setStopFlag(StopFlag stop) { stop_ = stop; }

  // Memory a block of `values` values takes with counts of `bits` (4 or 8)
  // bits: its counts and every thread's filing.
  static std::uint64_t bytesFor(std::uint64_t values, unsigned threads, unsigned bits);

  // The counts of [first, last] from the sums of `source`, to `sink` in
  // increasing order of value, counted in fields of `bits` bits.
  // The sampled values' counts are kept in `sample` (when not nullptr).
  // `prepared`: the share of the block's work that the source's shared
  // preparation takes, for the progress told to `done`.
  void count(SumSource& source, std::uint64_t first, std::uint64_t last, unsigned bits, const CountSink& sink,
             const ProgressSink& done, BlockSample* sample = nullptr, double prepared = 0);
  // Their histogram, added to `histogram`.
  void tally(SumSource& source, std::uint64_t first, std::uint64_t last, unsigned bits,
             CountHistogram& histogram, const ProgressSink& done, BlockSample* sample = nullptr,
             double prepared = 0);
  // Gives the kept memory back.
  void release();

 private:
  StopFlag stop_ = nullptr;
  // Called by the thread that holds the values [from, to) of a block's counts.
  template <class Counts>
  using SlabVisit =
      std::function<void(unsigned thread, Counts& counts, std::uint64_t from, std::uint64_t to)>;
  template <class Counts>
  Counts fill(SumSource& source, std::uint64_t first, std::uint64_t last, const ProgressSink& done,
              double prepared, const SlabVisit<Counts>& visit = {});
  template <class Counts>
  void countSlabs(const SumSource& source, Counts& counts, std::uint64_t first,
                  std::span<std::optional<SumFiler<Counts>>> filers, const SlabVisit<Counts>& visit);
  template <class Counts>
  void countWith(SumSource& source, std::uint64_t first, std::uint64_t last, const CountSink& sink,
                 const ProgressSink& done, BlockSample* sample, double prepared);
  template <class Counts>
  void tallyWith(SumSource& source, std::uint64_t first, std::uint64_t last, CountHistogram& histogram,
                 const ProgressSink& done, BlockSample* sample, double prepared);
  std::uint8_t* zeroedCounts(std::uint64_t bytes);
  // A thread's memory of one kind, kept from block to block.
  static std::uint8_t* threadMemory(std::vector<std::unique_ptr<ZeroedPages>>& kept,
                                    std::vector<std::uint64_t>& sizes, unsigned thread, std::uint64_t bytes);

  unsigned threads_;
  std::unique_ptr<ZeroedPages> counts_;
  std::uint64_t countsBytes_ = 0;  // its size
  std::uint64_t dirtyBytes_ = 0;   // how much of it the last block left unclear: past it, all zero
  std::vector<std::unique_ptr<ZeroedPages>> pools_;  // each thread's filing, kept from block to block
  std::vector<std::uint64_t> poolBytes_;
};

}  // namespace arith
