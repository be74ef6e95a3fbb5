// Divisor sums gathered and handed to a block's filing a buffer at a time:
// one call of the filing per few thousand sums, not one per sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "arith/blocks/sum_source.hpp"
#include "common/check.hpp"

namespace arith {

class SumBuffer {
 public:
  SumBuffer(const SumSource::Filing& file, std::size_t size) : file_(file), sums_(size) {}

  void add(std::uint64_t sum) {
    sums_[used_++] = sum;
    if (used_ == sums_.size()) flush();
  }
  // Room for n more sums, n at most the buffer's size: written there, the
  // first `kept` of them are then taken by keep(kept).
  std::uint64_t* room(std::size_t n) {
    SIGMA_ASSERT(n <= sums_.size());
    if (used_ + n > sums_.size()) flush();
    return sums_.data() + used_;
  }
  void keep(std::size_t kept) { used_ += kept; }
  // Files what is gathered; the owner calls it at the end.
  void flush() {
    if (used_ > 0) file_(std::span<const std::uint64_t>(sums_.data(), used_));
    used_ = 0;
  }

 private:
  const SumSource::Filing& file_;
  std::vector<std::uint64_t> sums_;
  std::size_t used_ = 0;
};

}  // namespace arith
