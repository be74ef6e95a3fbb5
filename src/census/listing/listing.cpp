#include "census/listing/listing.hpp"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "census/listing/decimal_counter.hpp"
#include "census/listing/pairs_reader.hpp"
#include "census/report/texts.hpp"

namespace census {

using common::Count;
using common::Int64;

std::size_t listingBudgetFor(std::uint64_t bytes) {
  constexpr std::uint64_t kMost = std::uint64_t{1} << 24;
  return static_cast<std::size_t>(std::min(kMost, bytes / 4 / sizeof(Int64)));
}

Listing::Listing(const PairsFile& writer, Int64 L1, Int64 L2, const arith::CountHistogram& NN,
                 Recount recount, Warn warn, std::size_t budget)
    : writer_(writer),
      L1_(L1),
      L2_(L2),
      NN_(NN),
      recount_(std::move(recount)),
      warn_(std::move(warn)),
      budget_(budget),
      fileBroken_(writer.failed()) {}

void Listing::list(Count a, ReportWriter& out) {
  if (NN_[a] == 0) return;
  out << texts::kListingHeader;
  const std::size_t k = keptIndex(a);
  if (k != kNone) {
    for (std::size_t at = keptStart_[k]; at < keptStart_[k + 1]; ++at) out.value(keptValues_[at]);
    return;
  }
  pass(a, out);
}

std::size_t Listing::keptIndex(Count count) const {
  if (count < static_cast<Count>(smallIndex_.size())) return smallIndex_[static_cast<std::size_t>(count)];
  const auto it = std::lower_bound(keptCounts_.begin(), keptCounts_.end(), count);
  if (it == keptCounts_.end() || *it != count) return kNone;
  return static_cast<std::size_t>(it - keptCounts_.begin());
}

// Chooses the counts after `first` whose values the next pass keeps: the
// next counts met, while their values fit the budget.
void Listing::keepFollowing(Count first) {
  keptCounts_.clear();
  keptStart_.assign(1, 0);
  std::size_t held = 0;
  NN_.forEachFrom(first + 1, [&](Count n, Int64 values) {
    const auto size = static_cast<std::size_t>(values);
    if (held + size > budget_) return false;
    held += size;
    keptCounts_.push_back(n);
    keptStart_.push_back(held);
    return true;
  });
  keptFill_.assign(keptStart_.begin(), keptStart_.end() - 1);
  std::vector<Int64>().swap(keptValues_);  // the last pass's values are all printed
  keptValues_.resize(held);
  smallIndex_.clear();
  for (std::size_t k = 0; k < keptCounts_.size() && keptCounts_[k] < arith::CountHistogram::kDense; ++k) {
    smallIndex_.resize(static_cast<std::size_t>(keptCounts_[k]) + 1, kNone);
    smallIndex_[static_cast<std::size_t>(keptCounts_[k])] = k;
  }
}

// Prints the values of count `first` while reading, and keeps those of the
// following counts while they fit the budget.
void Listing::pass(Count first, ReportWriter& out) {
  keepFollowing(first);
  const Count last = keptCounts_.empty() ? first : keptCounts_.back();
  DecimalCounter text;  // the value's decimal text, counted up along the run
  forEachRecord([&](Int64 start, std::span<const Count> counts) {
    text.set(start);
    for (std::size_t k = 0; k < counts.size(); ++k, text.increment()) {
      const Int64 value = start + static_cast<Int64>(k);  // never one past L2
      const Count count = counts[k];
      if (count == first) {
        out.value(text);
      } else if (count > first && count <= last) {
        // Records come checked, or from the arithmetic that made NN: a count
        // that NN does not hold, or holds fewer times, is a fault of the program.
        const std::size_t index = keptIndex(count);
        if (index == kNone || keptFill_[index] == keptStart_[index + 1])
          throw std::logic_error("liste incoherente avec les effectifs");
        keptValues_[keptFill_[index]++] = value;
      }
    }
  });
}

void Listing::forEachRecord(const RecordSink& sink) {
  Int64 resumeAt = L1_;
  if (!fileBroken_) {
    const ReadOutcome read = readPairsFile(writer_, L1_, L2_, sink);
    if (read.complete) return;
    fileBroken_ = true;
    warn_(read.problem);
    resumeAt = read.resumeAt;
  }
  recount_(resumeAt, sink);
}

}  // namespace census
