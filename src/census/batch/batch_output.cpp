#include "census/batch/batch_output.hpp"

#include <cstdio>
#include <span>

#include "census/listing/decimal_counter.hpp"
#include "census/report/report_writer.hpp"

namespace census {

using common::Int64;

namespace {

// Calls line(text of the value, count) for every value, in increasing order.
template <class Line>
void forEachValue(Listing& listing, const Line& line) {
  DecimalCounter text;
  listing.forEachRecord([&](Int64 first, std::span<const common::Count> counts) {
    text.set(first);
    for (std::size_t k = 0; k < counts.size(); ++k, text.increment()) line(text.text(), counts[k]);
  });
}

}  // namespace

void writeTsv(std::ostream& out, const arith::CountHistogram& NN, Listing* listing) {
  ReportWriter tsv(out);
  if (listing == nullptr) {
    tsv << "count\tvalues\n";
    NN.forEach([&](common::Count n, Int64 values) { tsv << n << "\t" << values << "\n"; });
  } else {
    tsv << "value\tcount\n";
    forEachValue(*listing,
                 [&](std::string_view value, common::Count n) { tsv << value << "\t" << n << "\n"; });
  }
  tsv.flush();
}

void writeJson(std::ostream& out, Int64 L1, Int64 L2, const arith::CountHistogram& NN, Listing* listing,
               double seconds, bool doubleChecked) {
  ReportWriter json(out);
  json << "{\"from\": " << L1 << ", \"to\": " << L2 << ", \"histogram\": [";
  const char* separator = "";
  NN.forEach([&](common::Count n, Int64 values) {
    json << separator << "{\"count\": " << n << ", \"values\": " << values << "}";
    separator = ", ";
  });
  json << "]";
  if (listing != nullptr) {
    json << ", \"values\": [";
    separator = "";
    forEachValue(*listing, [&](std::string_view value, common::Count n) {
      json << separator << "{\"value\": " << value << ", \"count\": " << n << "}";
      separator = ", ";
    });
    json << "]";
  }
  char tail[64];
  std::snprintf(tail, sizeof tail, ", \"double_checked\": %s, \"seconds\": %.3f}\n",
                doubleChecked ? "true" : "false", seconds);
  json << tail;
  json.flush();
}

}  // namespace census
