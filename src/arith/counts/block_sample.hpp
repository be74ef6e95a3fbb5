// A sample of one block's values with the counts the block's method gave
// them, kept for the double check: the same values are counted again by the
// inversion, and the two counts must agree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/widths.hpp"

namespace arith {

struct BlockSample {
  std::vector<std::uint64_t> values;  // increasing, distinct, inside the block
  std::vector<common::Count> counts;  // counts[k] for values[k]: as the block counted it

  // Keeps the counts of the sampled values among those of first, first + 1, ...
  void capture(std::uint64_t first, std::span<const common::Count> block) {
    counts.resize(values.size(), -1);
    const auto from = std::lower_bound(values.begin(), values.end(), first);
    for (auto it = from; it != values.end() && *it - first < block.size(); ++it)
      counts[static_cast<std::size_t>(it - values.begin())] = block[*it - first];
  }
};

// The values of [first, last] to sample: `size` of them (all when the block
// is narrower), drawn from a generator seeded by the block's first value, so
// that every run of the same block draws the same ones.
std::vector<std::uint64_t> sampleValues(std::uint64_t first, std::uint64_t last, std::uint64_t size);

// The double check saw two counts of one value that differ: the calculation
// ends, and nothing of the block is kept.
class DoubleCheckFailure : public std::runtime_error {
 public:
  // `where`: which ranks counted it, when others than this process did ("" otherwise).
  DoubleCheckFailure(std::uint64_t value, common::Count counted, common::Count recounted,
                     const std::string& where = "");
  std::uint64_t value() const { return value_; }
  common::Count counted() const { return counted_; }
  common::Count recounted() const { return recounted_; }

 private:
  std::uint64_t value_;
  common::Count counted_;
  common::Count recounted_;
};

// Throws DoubleCheckFailure at the first value whose two counts differ.
void compareSample(const BlockSample& sample, std::span<const common::Count> recounted,
                   const std::string& where = "");

}  // namespace arith
