// The listing of the values under each count, taken from the pairs file.
//
// The file is read in a few passes, not once per count: a pass prints the
// values of its first count as it reads them and keeps those of the next
// counts met, as many as fit a memory budget, to print when their turn comes.
// Every run of records is checked against the writer's checksum before any of
// it is printed; once the file proves unusable, the counts are computed again
// instead, so the listing is the same whatever happened to the file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "arith/counts/count_histogram.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "census/listing/pairs_file.hpp"
#include "census/report/report_writer.hpp"
#include "common/widths.hpp"

namespace census {

// The values a listing may hold between passes for a memory budget of
// `bytes`: a quarter of it, so that counts taken again from the arithmetic
// still find room, and no more than 2^24.
std::size_t listingBudgetFor(std::uint64_t bytes);

class Listing {
 public:
  // Receives the counts of consecutive values, as the arithmetic hands them over.
  using RecordSink = arith::CountSink;
  // Hands the counts of every value of [from, L2] to the sink, in increasing order of value.
  using Recount = std::function<void(common::Int64 from, const RecordSink& sink)>;
  using Warn = std::function<void(const std::string& reason)>;

  // `budget`: how many values may be held in memory between passes.
  Listing(const PairsFile& writer, common::Int64 L1, common::Int64 L2, const arith::CountHistogram& NN,
          Recount recount, Warn warn, std::size_t budget = std::size_t{1} << 24);

  // The header and the values of count a; counts come in increasing order.
  // A count that no value has prints nothing.
  void list(common::Count a, ReportWriter& out);
  // Hands every value's count to `sink` in increasing order of value: from
  // the file where its checked records serve, computed again where not.
  void forEachRecord(const RecordSink& sink);

 private:
  void pass(common::Count first, ReportWriter& out);
  void keepFollowing(common::Count first);
  std::size_t keptIndex(common::Count count) const;

  const PairsFile& writer_;
  common::Int64 L1_;
  common::Int64 L2_;
  const arith::CountHistogram& NN_;
  Recount recount_;
  Warn warn_;
  std::size_t budget_;
  bool fileBroken_ = false;
  // The values kept by the last pass: those of keptCounts_[k] (increasing) sit
  // in keptValues_ from keptStart_[k] to keptStart_[k + 1]. Small counts find
  // their index through smallIndex_ (kNone when not kept), large ones by search.
  static constexpr std::size_t kNone = ~std::size_t{0};
  std::vector<common::Count> keptCounts_;
  std::vector<std::size_t> keptStart_;
  std::vector<std::size_t> keptFill_;
  std::vector<common::Int64> keptValues_;
  std::vector<std::size_t> smallIndex_;
};

}  // namespace census
