// The primes of a range of numbers read off a bitmap of its odd numbers: a
// segment just sieved, or the primes a calculation keeps (low_primes.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "arith/primes/bit_scan.hpp"

namespace arith {

struct OddPrimeBits {
  std::span<const std::uint64_t> words;  // bit i: whether firstOdd + 2i is prime
  std::uint64_t firstOdd = 1;
  bool hasTwo = false;  // whether the range holds 2

  // Calls visit(p) for each prime p of [lo, hi] within the range, in increasing order.
  template <class Visit>
  void forEachPrime(std::uint64_t lo, std::uint64_t hi, const Visit& visit) const {
    if (hasTwo && lo <= 2 && 2 <= hi) visit(std::uint64_t{2});
    lo = std::max(lo, firstOdd);
    if (lo > hi || words.empty()) return;
    const std::uint64_t from = (lo - firstOdd + 1) / 2;  // the first odd number >= lo
    const std::uint64_t to = (hi - firstOdd) / 2;        // the last odd number <= hi
    forEachSetBit(words, from, to, [&](std::uint64_t i) { visit(firstOdd + 2 * i); });
  }
};

}  // namespace arith
