// The set bits of a bitmap between two bit positions, a word of 64 at a time:
// how the prime bitmaps (the small primes' and a sieved segment's) are read.
#pragma once

#include <bit>
#include <cstdint>
#include <span>

#include "common/check.hpp"

namespace arith {

// Calls visit(i) for each set bit i of `words` with from <= i <= to, in increasing order.
template <class Visit>
void forEachSetBit(std::span<const std::uint64_t> words, std::uint64_t from, std::uint64_t to,
                   const Visit& visit) {
  if (from > to) return;
  SIGMA_ASSERT(to < 64 * words.size());
  for (std::uint64_t w = from / 64; w <= to / 64; ++w) {
    std::uint64_t word = words[w];
    if (w == from / 64) word &= ~std::uint64_t{0} << (from % 64);
    if (w == to / 64 && to % 64 != 63) word &= (std::uint64_t{1} << (to % 64 + 1)) - 1;
    for (; word != 0; word &= word - 1) visit(64 * w + static_cast<std::uint64_t>(std::countr_zero(word)));
  }
}

}  // namespace arith
