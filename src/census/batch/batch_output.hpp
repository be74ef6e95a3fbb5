// The batch census's machine-readable results: tab-separated values and
// JSON, with exact integers.
//   tsv:          "count\tvalues" then one line per count met, increasing;
//   tsv --list:   "value\tcount" then one line per value, increasing;
//   json:         {"from": L1, "to": L2, "histogram": [{"count": n, "values": k}, ...],
//                  "seconds": s} on one line; with --list, "values": [{"value": v,
//                  "count": n}, ...] comes before "seconds".
#pragma once

#include <ostream>

#include "arith/counts/count_histogram.hpp"
#include "census/listing/listing.hpp"
#include "common/widths.hpp"

namespace census {

// `listing`: nullptr without --list; it hands over every value's count.
void writeTsv(std::ostream& out, const arith::CountHistogram& NN, Listing* listing);
void writeJson(std::ostream& out, common::Int64 L1, common::Int64 L2, const arith::CountHistogram& NN,
               Listing* listing, double seconds, bool doubleChecked);

}  // namespace census
