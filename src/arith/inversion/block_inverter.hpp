// The inversion's driver for one block of values: each thread factors its
// share of the block by a sieve (BlockFactorizer), then all take values in
// small batches from wherever they are, since a value's cost varies widely,
// and count its preimages from its divisors alone (SigmaInverse).
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "arith/counts/block_sample.hpp"
#include "arith/counts/count_histogram.hpp"
#include "arith/counts/sinks.hpp"
#include "arith/inversion/factorizer.hpp"
#include "arith/inversion/preimage_walk.hpp"
#include "arith/inversion/sigma_inverse.hpp"
#include "arith/primes/prime_table.hpp"

namespace arith {

class BlockInverter {
 public:
  // Values inverted at once, and handed over at once.
  static constexpr std::uint64_t kBatch = std::uint64_t{1} << 16;

  BlockInverter(PrimeTable& table, unsigned threads);
  // Every thread looks at `stop` every few values (nullptr: never stopped).
  void setStopFlag(StopFlag stop) { stop_ = stop; }

  // The counts of [first, last] (1 <= first <= last), to `sink` in order of
  // value or into `histogram`; `done` is told the share finished; the
  // sampled values' counts kept in `sample` (when not nullptr).
  void count(std::uint64_t first, std::uint64_t last, const CountSink* sink, CountHistogram* histogram,
             const ProgressSink& done, BlockSample* sample = nullptr);

  // One value: how many m have sigma(m) == N, and every such m to `sink`
  // (see PreimageWalk); returns how many were handed over.
  common::Count countOne(std::uint64_t N);
  common::Count preimages(std::uint64_t N, const PreimageSink& sink);

  // The counts of scattered values, by every thread: out[k] for values[k].
  // `walk`: by listing each value's preimages (PreimageWalk) rather than
  // counting them, a second way for values the block itself inverted.
  void recount(std::span<const std::uint64_t> values, std::span<common::Count> out, bool walk);

 private:
  void makeTools();

  void countBatch(std::uint64_t first, std::uint64_t size, std::vector<common::Count>& out);

  PrimeTable& table_;
  unsigned threads_;
  StopFlag stop_ = nullptr;
  std::unique_ptr<Factorizer> factorizer_;  // made on first use: they grow the table
  std::unique_ptr<HighPowerSums> highPowerSums_;
  std::vector<BlockFactorizer> factorizers_;
};

}  // namespace arith
