// The listing of the values under each count, taken from the pairs file.
//
// The file is read in a few passes, not once per count: a pass prints the
// values of its first count as it reads them and keeps those of the next
// counts, as many as fit a memory budget, to print when their turn comes.
// Every run of records is checked against the writer's checksum before any of
// it is printed; once the file proves unusable, the counts are computed again
// instead, so the listing is the same whatever happened to the file.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "arith/divisor_arithmetic.hpp"
#include "census/pairs_file.hpp"
#include "census/report_writer.hpp"
#include "common/widths.hpp"

namespace census {

class Listing {
 public:
  // Receives the counts of consecutive values, as the arithmetic hands them over.
  using RecordSink = arith::CountSink;
  // Hands the counts of every value of [from, L2] to the sink, in increasing order of value.
  using Recount = std::function<void(common::Int64 from, const RecordSink& sink)>;
  using Warn = std::function<void(const std::string& reason)>;

  // `budget`: how many values may be held in memory between passes.
  Listing(const PairsFile& writer, common::Int64 L1, common::Int64 L2, const std::vector<common::Int64>& NN,
          Recount recount, Warn warn, std::size_t budget = std::size_t{1} << 24);

  // The header and the values of count a; counts come in increasing order.
  void list(common::Int64 a, ReportWriter& out);

 private:
  void pass(common::Int64 first, ReportWriter& out);
  void forEachRecord(const RecordSink& sink);
  bool readFile(const RecordSink& sink, common::Int64& resumeAt);
  void breakFile(const std::string& reason);

  const PairsFile& writer_;
  common::Int64 L1_;
  common::Int64 L2_;
  const std::vector<common::Int64>& NN_;
  Recount recount_;
  Warn warn_;
  std::size_t budget_;
  bool fileBroken_ = false;
  common::Int64 keptFirst_ = 0;  // kept_[k] holds the values of count keptFirst_ + k
  std::vector<std::vector<common::Int64>> kept_;
};

}  // namespace census
