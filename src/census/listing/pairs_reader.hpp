// Reads the pairs file back and checks it against what the writer wrote: the
// bytes it writes, the values in order, one checksum per run of records.
// Nothing unchecked is handed on, and the read buffer is never written past
// its end, whatever the file holds.
#pragma once

#include <string>

#include "arith/divisor_arithmetic.hpp"
#include "census/listing/pairs_file.hpp"
#include "common/widths.hpp"

namespace census {

struct ReadOutcome {
  bool complete = false;       // every record of [L1, L2] was handed on
  common::Int64 resumeAt = 0;  // otherwise, the first value not handed on
  std::string problem;         // and why the file cannot be used
};

// Hands the counts of [L1, L2], as read from the writer's file, to `sink` in
// increasing order of value, a checked run of records at a time.
ReadOutcome readPairsFile(const PairsFile& writer, common::Int64 L1, common::Int64 L2,
                          const arith::CountSink& sink);

}  // namespace census
