#include "census/census.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <span>

#include "arith/memory_budget.hpp"
#include "census/listing.hpp"
#include "census/report_writer.hpp"
#include "census/texts.hpp"
#include "common/check.hpp"

namespace census {

using common::Int64;

Census::Census(console::Console& console, arith::DivisorArithmetic& arithmetic, std::ostream& out,
               std::ostream& err, bool errIsTerminal, std::string pairsPath)
    : console_(console),
      arithmetic_(arithmetic),
      out_(out),
      err_(err),
      progress_(err, errIsTerminal),
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
  } catch (const std::bad_alloc&) {
    return failed(texts::kOutOfMemory);
  } catch (const arith::MemoryShortage& shortage) {
    return failed(texts::memoryShortage(shortage.room(), shortage.least()));
  } catch (const std::exception& error) {
    return failed(error.what());
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
  progress_.start();
  const auto progress = [&](double done) { progress_.update(done); };
  if (af == 1) {
    // Every count is recorded, in order of value.
    arithmetic_.countDivisorSums(
        L1, L2, [&](Int64 first, std::span<const common::Count> counts) { record(first, counts); }, progress);
  } else {
    // Only the histogram is needed: the arithmetic tallies it itself.
    arithmetic_.tallyDivisorSums(L1, L2, NN, progress);
  }
  nsmax = NN.largest();
  progress_.finish();
}

// The counts of consecutive values from `first`: into the pairs file and NN.
void Census::record(Int64 first, std::span<const common::Count> counts) {
  // Small counts go to four interleaved tallies first: most values share a
  // handful of counts, and one tally would chain every increment on the one
  // before. They are added to NN after the block.
  constexpr std::size_t kLanes = 4;
  constexpr common::Count kSmall = 64;
  std::array<std::array<Int64, kSmall>, kLanes> tallies{};
  for (std::size_t k = 0; k < counts.size(); ++k) {
    // Formed from the block's first value: one past L2 may not exist.
    const Int64 N = first + static_cast<Int64>(k);
    const common::Count ns = counts[k];
    SIGMA_ASSERT(ns >= 0 && ns <= N);
    Flux.record(ns, N);
    if (ns < kSmall) {
      ++tallies[k % kLanes][static_cast<std::size_t>(ns)];
    } else {
      NN.add(ns);
    }
  }
  for (const auto& tally : tallies) {
    for (common::Count n = 0; n < kSmall; ++n) NN.add(n, tally[static_cast<std::size_t>(n)]);
  }
}

void Census::report() {
  ReportWriter out(out_);
  out << texts::kReportStart;
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
  // Counts between 0 and nsmax that no value has print nothing, summary or
  // listing: only the counts met are visited.
  NN.forEach([&](common::Count a, Int64 values) {
    out << texts::kSummary1 << a << texts::kSummary2 << values << texts::kSummary3 << L1 << texts::kSummary4
        << L2 << texts::kSummary5;
    if (listing) listing->list(a, out);
  });
  out.flush();
}

// The values the listing may hold between passes: a quarter of the memory
// budget, so that a count taken again from the arithmetic still finds room.
std::size_t Census::listingBudget() const {
  if (listingBudget_ != 0) return listingBudget_;
  constexpr std::uint64_t kMost = std::uint64_t{1} << 24;
  return static_cast<std::size_t>(std::min(kMost, arithmetic_.memoryBudget() / 4 / sizeof(Int64)));
}

void Census::warnPairsFile(const std::string& reason) {
  if (warned_) return;
  warned_ = true;
  err_ << texts::kPairsWarning << Flux.path() << " : " << reason << '\n';
  err_.flush();
}

}  // namespace census
