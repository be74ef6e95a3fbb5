#include "census/report/summary_report.hpp"

#include "census/report/report_writer.hpp"
#include "census/report/texts.hpp"

namespace census {

void writeReport(std::ostream& out, common::Int64 L1, common::Int64 L2, const arith::CountHistogram& NN,
                 Listing* listing) {
  ReportWriter report(out);
  report << texts::kReportStart;
  // Counts between 0 and the largest that no value has print nothing,
  // summary or listing: only the counts met are visited.
  NN.forEach([&](common::Count a, common::Int64 values) {
    report << texts::kSummary1 << a << texts::kSummary2 << values << texts::kSummary3 << L1
           << texts::kSummary4 << L2 << texts::kSummary5;
    if (listing != nullptr) listing->list(a, report);
  });
  report.flush();
}

}  // namespace census
