// What the arithmetic hands its results to.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <span>

#include "common/widths.hpp"

namespace arith {

// Receives the counts of consecutive values, counts[k] for the value first + k.
using CountSink = std::function<void(common::Int64 first, std::span<const common::Count> counts)>;
// Receives the fraction of the work done, from 0 to 1.
using ProgressSink = std::function<void(double done)>;

// A calculation abandoned because its caller set its stop flag: thrown from
// whichever thread saw the flag first, it unwinds the others as any failure does.
class CalculationStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

// The flag a caller sets to abandon a calculation; looked at by every
// counting thread each time it files a buffer of sums or takes a few values.
using StopFlag = const std::atomic<bool>*;
inline void throwIfStopped(StopFlag stop) {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw CalculationStopped();
}

class CountHistogram;
// Told of each block of [first, last] once all its results are handed over:
// with a tally, the block's own histogram (already added to the whole);
// with counts, nullptr.
using BlockDoneSink =
    std::function<void(common::Int64 first, common::Int64 last, const CountHistogram* histogram)>;

}  // namespace arith
