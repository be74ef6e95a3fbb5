// How many values of an interval have each count: NN[n] for every count n.
//
// Nearly every value has a small count, so small counts sit in a dense array
// indexed by the count; the rare large ones, which may run into the billions,
// sit in an ordered map. Memory follows the number of distinct counts met,
// never the largest count.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "common/widths.hpp"

namespace arith {

class CountHistogram {
 public:
  // Counts below this go to the dense array.
  static constexpr common::Count kDense = 1024;

  // `values` more values have count `n` (n >= 0, values >= 0).
  void add(common::Count n, common::Int64 values = 1);
  void add(const CountHistogram& other);
  // How many values have count n (0 when none).
  common::Int64 operator[](common::Count n) const;
  // The largest count met, 0 when empty.
  common::Count largest() const { return largest_; }
  // The sum over all counts: how many values were added.
  common::Int64 total() const;
  void clear();

  // Calls visit(n, values) for every count n >= from that some value has, in
  // increasing order of n, while visit returns true.
  template <class Visit>
  void forEachFrom(common::Count from, const Visit& visit) const {
    for (auto n = static_cast<std::size_t>(std::max<common::Count>(from, 0)); n < dense_.size(); ++n) {
      if (dense_[n] != 0 && !visit(static_cast<common::Count>(n), dense_[n])) return;
    }
    for (auto it = sparse_.lower_bound(from); it != sparse_.end(); ++it) {
      if (!visit(it->first, it->second)) return;
    }
  }
  // Calls visit(n, values) for every count that some value has, in increasing order of n.
  template <class Visit>
  void forEach(const Visit& visit) const {
    forEachFrom(0, [&](common::Count n, common::Int64 values) {
      visit(n, values);
      return true;
    });
  }

  bool operator==(const CountHistogram& other) const = default;

 private:
  std::vector<common::Int64> dense_;  // grown to the largest small count met
  std::map<common::Count, common::Int64> sparse_;
  common::Count largest_ = 0;
};

}  // namespace arith
