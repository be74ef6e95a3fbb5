// Integer widths and limits shared by every subsystem. No mutable state.
#pragma once

#include <cstdint>
#include <limits>

namespace common {

using Int64 = std::int64_t;  // values, candidates, counts, divisor sums, primes
using Int32 = std::int32_t;  // flags, choice answers, lengths

// How many m have sigma(m) = N. Every m > 1 has sigma(m) >= m + 1, so each m
// counted for N > 1 lies in [2, N - 1], and N = 1 has the one m = 1: a count
// never exceeds N, hence fits wherever the value fits. Below 2^63 it does
// exceed 2^32 (3 * 20! has 4957364730 preimages), so it is 64-bit throughout.
using Count = std::int64_t;

// The largest bound a user may type: every value up to it is answered exactly.
inline constexpr Int64 kLargestBound = std::numeric_limits<Int64>::max();

// Capacity of an answer buffer: a token holds at most kTokenCapacity - 1 characters.
inline constexpr int kTokenCapacity = 200;

}  // namespace common
