// The main loop of a run and one whole calculation: questions, scan of the
// interval, count histogram, report and listing.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arith/counts/count_histogram.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "census/listing/pairs_file.hpp"
#include "census/report/progress_line.hpp"
#include "common/widths.hpp"
#include "console/console.hpp"

namespace census {

class Census {
 public:
  // `err` receives warnings, and the progress in the given style.
  Census(console::Console& console, arith::DivisorArithmetic& arithmetic, std::ostream& out,
         std::ostream& err, ProgressLine::Style progress, std::string pairsPath = "./NN.txt");

  // Prints the banner, then runs calculations until the user declines a new
  // one. Returns the exit status: 1 then, 2 when the input ends first, 3 when
  // standard output fails, 4 when a calculation cannot be completed (memory).
  int main();
  static constexpr int kFailed = 4;  // the exit status of a calculation that could not complete

  // One calculation, from the first question to the last line of its report.
  void calcul2();

  // Test seams: the values the listing may hold between passes (0: from the
  // memory budget), and an action
  // run between the scan and the report (to alter the pairs file).
  void setListingBudget(std::size_t values) { listingBudget_ = values; }
  void setBeforeReport(std::function<void()> action) { beforeReport_ = std::move(action); }

  common::Int64 L1 = 0;
  common::Int64 L2 = 0;
  common::Int32 af = 0;      // 1: list the values under each count
  common::Count nsmax = 0;   // largest count met in this calculation
  arith::CountHistogram NN;  // NN[n]: how many values have count n
  common::Int64 nouveau = 0;

 private:
  void scan();
  void report();
  std::size_t listingBudget() const;
  void warnPairsFile(const std::string& reason);
  int failed(std::string_view what);  // the line on standard error, and the exit status

  console::Console& console_;
  arith::DivisorArithmetic& arithmetic_;
  std::ostream& out_;
  std::ostream& err_;
  ProgressLine progress_;
  PairsFile Flux;
  bool warned_ = false;  // one warning about the pairs file per calculation
  std::size_t listingBudget_ = 0;
  std::function<void()> beforeReport_;
};

}  // namespace census
