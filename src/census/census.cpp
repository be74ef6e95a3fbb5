#include "census/census.hpp"

#include <memory>
#include <span>

#include "census/listing.hpp"
#include "census/report_writer.hpp"
#include "census/texts.hpp"

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
      NN.assign(1, 0);
      calcul2();
      NN.assign(1, 0);
      console_.controle(console::Console::kChoice01, texts::kNewCalculation);
      nouveau = console_.valeur2;
    }
  } catch (const console::EndOfInput&) {
    out_.flush();
    return 2;
  }
  out_.flush();
  return 1;
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
  nsmax = 0;
  progress_.start();
  arithmetic_.countDivisorSums(
      L1, L2,
      [&](Int64 first, std::span<const common::Count> counts) {
        const bool recording = af == 1;
        Int64* histogram = NN.data();
        for (std::size_t k = 0; k < counts.size(); ++k) {
          // Formed from the block's first value: one past L2 may not exist.
          const Int64 N = first + static_cast<Int64>(k);
          const auto ns = static_cast<Int64>(counts[k]);
          if (ns > nsmax) {
            while (nsmax < ns) {
              NN.push_back(0);
              ++nsmax;
            }
            histogram = NN.data();
          }
          if (recording) Flux.record(ns, N);
          ++histogram[ns];
        }
      },
      [&](double done) { progress_.update(done); });
  progress_.finish();
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
        listingBudget_);
  }
  for (Int64 a = 0; a <= nsmax; ++a) {
    const Int64 values = NN[static_cast<std::size_t>(a)];
    if (values != 0) {
      out << texts::kSummary1 << a << texts::kSummary2 << values << texts::kSummary3 << L1 << texts::kSummary4
          << L2 << texts::kSummary5;
    }
    if (listing) listing->list(a, out);
  }
  out.flush();
}

void Census::warnPairsFile(const std::string& reason) {
  if (warned_) return;
  warned_ = true;
  err_ << texts::kPairsWarning << Flux.path() << " : " << reason << '\n';
  err_.flush();
}

}  // namespace census
