// The report of one calculation as the dialogue prints it: its opening,
// then for every count met its summary line and, with the listing, the
// values that have it.
#pragma once

#include <ostream>

#include "arith/counts/count_histogram.hpp"
#include "census/listing/listing.hpp"
#include "common/widths.hpp"

namespace census {

// `listing`: nullptr without the listing option.
void writeReport(std::ostream& out, common::Int64 L1, common::Int64 L2, const arith::CountHistogram& NN,
                 Listing* listing);

}  // namespace census
