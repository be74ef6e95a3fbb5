#include "census/dialogue/census.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <span>

#include "census/listing/count_recorder.hpp"
#include "census/listing/listing.hpp"
#include "census/report/failure_text.hpp"
#include "census/report/summary_report.hpp"
#include "census/report/texts.hpp"
#include "common/check.hpp"

namespace census {

using common::Int64;

Census::Census(console::Console& console, arith::DivisorArithmetic& arithmetic, std::ostream& out,
               std::ostream& err, ProgressLine::Style progress, std::string pairsPath)
    : console_(console),
      arithmetic_(arithmetic),
      out_(out),
      err_(err),
      progress_(err, progress),
      Flux(std::move(pairsPath)) {}

int Census::main() {
  // The prime table was seeded with 2 and 3 when the arithmetic was made.
  for (std::string_view text : texts::kBanner) out_ << text;
  try {
    nouveau = 1;
    while (nouveau == 1) {
      NN.clear();
      calcul2();
      NN.clear();
      // A report that could not be written is no success: stop, and say so.
      if (!out_) {
        err_ << texts::kOutputLost;
        err_.flush();
        return 3;
      }
      console_.controle(console::Console::kChoice01, texts::kNewCalculation);
      nouveau = console_.valeur2;
    }
  } catch (const console::EndOfInput&) {
    out_.flush();
    return 2;
  } catch (const std::exception&) {
    return failed(failureText(std::current_exception()));
  }
  out_.flush();
  return 1;
}

int Census::failed(std::string_view what) {
  progress_.finish();
  out_.flush();
  err_ << texts::kCalculationFailed << what << '\n';
  err_.flush();
  return kFailed;
}

void Census::calcul2() {
  warned_ = false;
  Flux.open();
  if (Flux.failed()) warnPairsFile(Flux.reason());

  console_.xn = 1;
  console_.controle(console::Console::kInteger, texts::kMaximum);
  L2 = console_.valeur0;
  do {
    console_.xn = 1;
    console_.controle(console::Console::kInteger, texts::kMinimum);
    L1 = console_.valeur0;
    console_.xn = 0;
  } while (L1 > L2);

  console_.controle(console::Console::kChoice01, texts::kListingOption);
  af = console_.valeur2;
  if (af == 0) Flux.close();

  scan();

  if (af == 1) {
    Flux.close();
    if (Flux.failed()) warnPairsFile(Flux.reason());
  }
  if (beforeReport_) beforeReport_();
  report();
}

void Census::scan() {
  // The plan's estimate is formed only where a line will show it.
  progress_.start(progress_.enabled() ? arithmetic_.plannedSeconds(L1, L2) : 0);
  const auto progress = [&](double done) { progress_.update(done); };
  if (af == 1) {
    // Every count is recorded, in order of value.
    arithmetic_.countDivisorSums(
        L1, L2,
        [&](Int64 first, std::span<const common::Count> counts) { recordCounts(Flux, NN, first, counts); },
        progress);
  } else {
    // Only the histogram is needed: the arithmetic tallies it itself.
    arithmetic_.tallyDivisorSums(L1, L2, NN, progress);
  }
  nsmax = NN.largest();
  progress_.finish();
}

void Census::report() {
  std::unique_ptr<Listing> listing;
  if (af == 1) {
    // Should the file fail, the listing counts again from the value where it stopped.
    auto recount = [this](Int64 from, const Listing::RecordSink& sink) {
      arithmetic_.countDivisorSums(from, L2, sink);
    };
    listing = std::make_unique<Listing>(
        Flux, L1, L2, NN, recount, [this](const std::string& reason) { warnPairsFile(reason); },
        listingBudget());
  }
  writeReport(out_, L1, L2, NN, listing.get());
}

std::size_t Census::listingBudget() const {
  return listingBudget_ != 0 ? listingBudget_ : listingBudgetFor(arithmetic_.memoryBudget());
}

void Census::warnPairsFile(const std::string& reason) {
  if (warned_) return;
  warned_ = true;
  err_ << texts::kPairsWarning << Flux.path() << " : " << reason << '\n';
  err_.flush();
}

}  // namespace census
