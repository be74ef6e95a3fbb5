#include "arith/counts/count_histogram.hpp"

#include <numeric>

#include "common/check.hpp"

namespace arith {

using common::Count;
using common::Int64;

void CountHistogram::add(Count n, Int64 values) {
  SIGMA_ASSERT(n >= 0 && values >= 0);
  if (values == 0) return;
  if (n < kDense) {
    const auto slot = static_cast<std::size_t>(n);
    if (dense_.size() <= slot) dense_.resize(slot + 1, 0);
    dense_[slot] += values;
  } else {
    sparse_[n] += values;
  }
  if (largest_ < n) largest_ = n;
}

void CountHistogram::add(const CountHistogram& other) {
  other.forEach([this](Count n, Int64 values) { add(n, values); });
}

Int64 CountHistogram::operator[](Count n) const {
  if (n < 0) return 0;
  if (n < kDense) {
    const auto slot = static_cast<std::size_t>(n);
    return slot < dense_.size() ? dense_[slot] : 0;
  }
  const auto it = sparse_.find(n);
  return it == sparse_.end() ? 0 : it->second;
}

Int64 CountHistogram::total() const {
  Int64 sum = std::accumulate(dense_.begin(), dense_.end(), Int64{0});
  for (const auto& entry : sparse_) sum += entry.second;
  return sum;
}

void CountHistogram::clear() {
  dense_.clear();
  sparse_.clear();
  largest_ = 0;
}

}  // namespace arith
