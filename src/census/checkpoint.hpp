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
//   done FIRST LAST         (the finished ranges, increasing, apart)
//   count N VALUES          (the histogram of those ranges, N increasing)
//   pairs BYTES HASH        (with the listing: NN.txt's complete part)
//   complete 0|1
//   xxh64 HASH              (16 hexadecimal digits)
// It is replaced atomically (a temporary file in the same directory, written,
// flushed to disk, renamed over it), so a kill leaves the old one or the new.
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

// A checkpoint's bytes, checked: its form, its hash, and that its ranges and
// histogram agree. On failure, `problem` says why.
struct CheckpointRead {
  std::optional<CheckpointState> state;
  std::string problem;
};
CheckpointRead parseCheckpoint(std::string_view bytes);

class CheckpointFile {
 public:
  explicit CheckpointFile(std::string path) : path_(std::move(path)) {}

  // No file: an empty read with no problem. Otherwise the file, checked.
  CheckpointRead load() const;
  // Replaces the file atomically; false (and `problem`) when it could not.
  bool save(const CheckpointState& state, std::string& problem) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace census
