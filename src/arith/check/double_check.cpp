#include "arith/check/double_check.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/check.hpp"

namespace arith {

using common::Count;

namespace {

// SplitMix64 (Steele, Lea and Flood 2014): a fast generator whose output
// from any seed is well spread, which is all a sample needs.
std::uint64_t splitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

std::vector<std::uint64_t> sampleValues(std::uint64_t first, std::uint64_t last, std::uint64_t size) {
  SIGMA_ASSERT(first <= last);
  const std::uint64_t width = last - first + 1;  // no overflow: last < 2^63
  std::vector<std::uint64_t> values;
  if (width <= size) {
    for (std::uint64_t v = first; v <= last; ++v) values.push_back(v);
    return values;
  }
  std::uint64_t state = first;
  while (values.size() < size) {
    // Draws until `size` distinct values: size <= width / 2 or so needs few redraws,
    // and a narrower block than `size` took every value above.
    for (std::uint64_t k = values.size(); k < size; ++k) values.push_back(first + splitMix(state) % width);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
  }
  return values;
}

DoubleCheckFailure::DoubleCheckFailure(std::uint64_t value, Count counted, Count recounted,
                                       const std::string& where)
    : std::runtime_error("double check failed at S = " + std::to_string(value) + ": the block counted " +
                         std::to_string(counted) + ", the inversion counts " + std::to_string(recounted) +
                         where),
      value_(value),
      counted_(counted),
      recounted_(recounted) {}

void compareSample(const BlockSample& sample, std::span<const Count> recounted, const std::string& where) {
  SIGMA_ASSERT(sample.values.size() == recounted.size() && sample.counts.size() == recounted.size());
  for (std::size_t k = 0; k < recounted.size(); ++k) {
    if (sample.counts[k] != recounted[k])
      throw DoubleCheckFailure(sample.values[k], sample.counts[k], recounted[k], where);
  }
}

BlockSample DoubleCheck::sampleFor(const BlockPlan& block) {
  const std::uint64_t width = block.last - block.first + 1;
  const std::uint64_t size =
      block.method == Method::Inversion ? std::min(kSample, (width - 1) / kInvertedShare + 1) : kSample;
  BlockSample sample;
  sample.values = sampleValues(block.first, block.last, size);
  return sample;
}

std::vector<Count> DoubleCheck::recount(const BlockPlan& block, const BlockSample& sample,
                                        BlockInverter& inverter) {
  std::vector<Count> counts(sample.values.size());
  inverter.recount(sample.values, counts, block.method == Method::Inversion);
  return counts;
}

void DoubleCheck::injectTestFault([[maybe_unused]] const BlockPlan& block,
                                  [[maybe_unused]] BlockSample& sample) {
#ifndef NDEBUG
  const char* text = std::getenv("SIGMA_CENSUS_TEST_MISCOUNT");
  if (text == nullptr) return;
  const std::uint64_t from = std::strtoull(text, nullptr, 10);
  if (from > block.last) return;
  for (std::size_t k = 0; k < sample.values.size(); ++k) {
    if (sample.values[k] >= from) ++sample.counts[k];
  }
#endif
}

}  // namespace arith
