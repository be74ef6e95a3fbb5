// The counts of consecutive values as a calculation with the listing takes
// them: each into the pairs file, and all into the count histogram.
#pragma once

#include <span>

#include "arith/counts/count_histogram.hpp"
#include "census/listing/pairs_file.hpp"
#include "common/widths.hpp"

namespace census {

// counts[k] is the count of the value first + k.
void recordCounts(PairsFile& pairs, arith::CountHistogram& NN, common::Int64 first,
                  std::span<const common::Count> counts);

}  // namespace census
