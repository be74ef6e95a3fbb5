// Integer widths and limits shared by every subsystem. No mutable state.
#pragma once

#include <cstdint>
#include <limits>

namespace common {

using Int64 = std::int64_t;  // values, candidates, counts, divisor sums, primes
using Int32 = std::int32_t;  // flags, choice answers, lengths, the report's count index

// How many candidates m share one divisor sum: far below 2^32 for every 64-bit value.
using Count = std::uint32_t;

// The largest bound a user may type: every value up to it is answered exactly.
inline constexpr Int64 kLargestBound = std::numeric_limits<Int64>::max();

// Capacity of an answer buffer: a token holds at most kTokenCapacity - 1 characters.
inline constexpr int kTokenCapacity = 200;

}  // namespace common
