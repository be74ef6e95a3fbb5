#include "arith/inversion/block_inverter.hpp"

#include <algorithm>
#include <atomic>
#include <vector>

#include "arith/blocks/parallel.hpp"
#include "common/check.hpp"

namespace arith {

using common::Count;

BlockInverter::BlockInverter(PrimeTable& table, unsigned threads) : table_(table), threads_(threads) {}

void BlockInverter::count(std::uint64_t first, std::uint64_t last, const CountSink* sink,
                          CountHistogram* histogram, const ProgressSink& done, BlockSample* sample) {
  SIGMA_ASSERT(1 <= first && first <= last && (sink != nullptr) != (histogram != nullptr));
  makeTools();
  const std::uint64_t width = last - first + 1;
  std::vector<Count> out;
  for (std::uint64_t start = 0; start < width; start += kBatch) {
    const std::uint64_t size = std::min(kBatch, width - start);
    countBatch(first + start, size, out);
    if (sample != nullptr) sample->capture(first + start, out);
    if (sink != nullptr) {
      (*sink)(static_cast<common::Int64>(first + start), out);
    } else {
      for (const Count c : out) histogram->add(c);
    }
    if (done) done(static_cast<double>(start + size) / static_cast<double>(width));
  }
}

void BlockInverter::makeTools() {
  if (factorizer_) return;
  factorizer_ = std::make_unique<Factorizer>(table_);
  highPowerSums_ = std::make_unique<HighPowerSums>(table_);
  factorizers_ = std::vector<BlockFactorizer>(threads_, BlockFactorizer(*factorizer_));
}

Count BlockInverter::countOne(std::uint64_t N) {
  makeTools();
  SigmaInverse inverse(*factorizer_, *highPowerSums_);
  return inverse.count(N);
}

Count BlockInverter::preimages(std::uint64_t N, const PreimageSink& sink) {
  makeTools();
  SigmaInverse inverse(*factorizer_, *highPowerSums_);
  PreimageWalk walk(*factorizer_, inverse);
  return walk.walk(N, [&](std::span<const std::uint64_t> batch) {
    throwIfStopped(stop_);
    return sink(batch);
  });
}

void BlockInverter::recount(std::span<const std::uint64_t> values, std::span<Count> out, bool walk) {
  SIGMA_ASSERT(values.size() == out.size());
  makeTools();
  std::atomic<std::size_t> next{0};
  runParallel(threads_, [&](unsigned) {
    SigmaInverse inverse(*factorizer_, *highPowerSums_);
    PreimageWalk walker(*factorizer_, inverse);
    for (std::size_t k = next.fetch_add(1); k < values.size(); k = next.fetch_add(1)) {
      throwIfStopped(stop_);
      out[k] = walk ? walker.walk(values[k], [](std::span<const std::uint64_t>) { return true; })
                    : inverse.count(values[k]);
    }
  });
}

void BlockInverter::countBatch(std::uint64_t first, std::uint64_t size, std::vector<Count>& out) {
  out.assign(size, 0);
  const std::uint64_t share = (size + threads_ - 1) / threads_;
  runParallel(threads_, [&](unsigned t) {
    const std::uint64_t from = std::min(size, t * share);
    factorizers_[t].factor(first + from, std::min(size, from + share) - from);
  });
  constexpr std::uint64_t kClaim = 16;  // values a thread takes at a time
  std::atomic<std::uint64_t> next{0};
  runParallel(threads_, [&](unsigned) {
    SigmaInverse inverse(*factorizer_, *highPowerSums_);
    for (std::uint64_t k = next.fetch_add(kClaim); k < size; k = next.fetch_add(kClaim)) {
      throwIfStopped(stop_);
      for (std::uint64_t j = k; j < std::min(size, k + kClaim); ++j) {
        const std::uint64_t owner = j / share;
        out[j] = inverse.count(first + j, factorizers_[owner].factorsOf(j - owner * share));
      }
    }
  });
}

}  // namespace arith
