// The checkpoint of a batch census: which ranges of [L1, L2] are finished,
// with the histogram of their counts, and with the listing how much of
// NN.txt is written (its length and the xxHash of those bytes). A later run
// with the same interval and listing choice computes only what is missing.
//
// The file is text, one record a line, ended by the xxHash of everything
// before it:
//   sigma-census checkpoint 1
//   interval L1 L2
//   list 0|1
//   checked 1               (only when every finished range was double-checked)
//   done FIRST LAST         (the finished ranges, increasing, apart)
//   count N VALUES          (the histogram of those ranges, N increasing)
//   pairs BYTES HASH        (with the listing: NN.txt's complete part)
//   complete 0|1
//   xxh64 HASH              (16 hexadecimal digits)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arith/counts/count_histogram.hpp"
#include "common/widths.hpp"

namespace census {

struct ValueRange {
  common::Int64 first = 0;
  common::Int64 last = 0;
  bool operator==(const ValueRange&) const = default;
};

struct CheckpointState {
  common::Int64 L1 = 1;
  common::Int64 L2 = 1;
  bool list = false;
  bool checked = false;             // every range in `done` was double-checked
  std::vector<ValueRange> done;     // increasing, neither overlapping nor touching
  arith::CountHistogram histogram;  // of the values in `done`
  std::uint64_t pairsBytes = 0;     // with the listing: NN.txt's bytes that are complete
  std::uint64_t pairsHash = 0;      // and their xxHash (XXH64, seed 0)

  // [first, last] is finished: merged into `done`.
  void finish(common::Int64 first, common::Int64 last);
  // The ranges of [L1, L2] still to compute, increasing.
  std::vector<ValueRange> missing() const;
  bool complete() const;

  bool operator==(const CheckpointState&) const = default;
};

std::string serializeCheckpoint(const CheckpointState& state);

// At most how many m have sigma(m) <= x (x >= 0): an upper bound, cheap and sure.
common::Int64 preimageBound(common::Int64 x);
// Whether a histogram of values up to L2 can be true: the preimages it
// counts, the sum of n * NN[n], are no more than preimageBound(L2).
bool plausibleCounts(const arith::CountHistogram& histogram, common::Int64 L2);

// A checkpoint's bytes, checked: its form, its hash, that its ranges and
// histogram agree, and that the histogram is plausible. On failure, `problem` says why.
struct CheckpointRead {
  std::optional<CheckpointState> state;
  std::string problem;
};
CheckpointRead parseCheckpoint(std::string_view bytes);

}  // namespace census
