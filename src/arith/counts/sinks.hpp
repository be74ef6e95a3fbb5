// What the arithmetic hands its results to.
#pragma once

#include <functional>
#include <span>

#include "common/widths.hpp"

namespace arith {

// Receives the counts of consecutive values, counts[k] for the value first + k.
using CountSink = std::function<void(common::Int64 first, std::span<const common::Count> counts)>;
// Receives the fraction of the work done, from 0 to 1.
using ProgressSink = std::function<void(double done)>;

class CountHistogram;
// Told of each block of [first, last] once all its results are handed over:
// with a tally, the block's own histogram (already added to the whole);
// with counts, nullptr.
using BlockDoneSink =
    std::function<void(common::Int64 first, common::Int64 last, const CountHistogram* histogram)>;

}  // namespace arith
