// Divisor sums gathered and handed to a block's filing a buffer at a time:
// one call of the filing per few thousand sums, not one per sum. A sum may
// stand for several m at once (the long intervals of the window walk share
// their primes among all the k of one sigma(k)): its weight less one rides in
// the entry's top bits (sum_source.hpp).
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
  enum class Kind { Plain, Weighted };
  SumBuffer(const SumSource::Filing& file, std::size_t size, Kind kind = Kind::Plain)
      : file_(file), sums_(size), weighted_(kind == Kind::Weighted) {}

  void add(std::uint64_t sum) {
    SIGMA_ASSERT(sum <= kSumMask);
    push(sum);
  }
  // The sum of `weight` m at once, in a weighted buffer.
  void add(std::uint64_t sum, std::uint64_t weight) {
    SIGMA_ASSERT(weighted_ && sum <= kSumMask && weight >= 1);
    for (; weight > kMaxWeight; weight -= kMaxWeight) push(sum | ((kMaxWeight - 1) << kWeightShift));
    push(sum | ((weight - 1) << kWeightShift));
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
    if (used_ > 0) file_(std::span<const std::uint64_t>(sums_.data(), used_), weighted_);
    used_ = 0;
  }

 private:
  void push(std::uint64_t entry) {
    sums_[used_++] = entry;
    if (used_ == sums_.size()) flush();
  }

  const SumSource::Filing& file_;
  std::vector<std::uint64_t> sums_;
  bool weighted_;
  std::size_t used_ = 0;
};

}  // namespace arith
