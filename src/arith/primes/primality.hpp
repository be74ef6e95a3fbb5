// Primality of 64-bit numbers, the cheapest answer first: a bitmap for small
// numbers, division by the small primes, then a strong-probable-prime test
// with the fewest bases proved to decide the number's size.
#pragma once

#include <cstdint>
#include <vector>

#include "arith/primes/bit_scan.hpp"
#include "arith/primes/exact_division.hpp"
#include "common/check.hpp"

namespace arith {

// Deterministic Miller-Rabin for every 64-bit number, with the fewest bases
// known to decide each size (G. Jaeschke, "On strong pseudoprimes to several
// bases", Math. Comp. 61 (1993)): below 2^32 (within 4,759,123,141) the bases
// 2, 7 and 61; below 1,122,004,669,633 the bases 2, 13, 23 and 1662803;
// above, sets of 4, 5 and 6 bases up to 55,245,642,489,451,
// 7,999,252,175,582,851 and 585,226,005,592,931,977, then the seven bases 2,
// 325, 9375, 28178, 450775, 9780504, 1795265022 (S. Worley and J. Sinclair,
// 2011, checked against the table of base-2 strong pseudoprimes below 2^64
// of J. Feitsma and W. Galway).
bool isPrime64(std::uint64_t n);

class PrimeTest {
 public:
  // Numbers below this are looked up.
  static constexpr std::uint64_t kBitmapLimit = std::uint64_t{1} << 24;

  PrimeTest();
  bool operator()(std::uint64_t n) const;

  // Calls visit(p) for each odd prime p of [lo, hi], in increasing order,
  // read off the bitmap a word of 64 odd numbers at a time; hi < kBitmapLimit.
  template <class Visit>
  void forEachOddPrime(std::uint64_t lo, std::uint64_t hi, const Visit& visit) const {
    SIGMA_ASSERT(hi < kBitmapLimit);
    if (hi == 0) return;
    // Bit k stands for 2k + 1: from the first odd number >= lo to the last <= hi.
    forEachSetBit(oddPrimeBits_, lo / 2, (hi - 1) / 2, [&](std::uint64_t k) { visit(2 * k + 1); });
  }

 private:
  std::vector<std::uint64_t> oddPrimeBits_;  // bit k: whether 2k + 1 is prime
  std::vector<OddDivisor> filter_;           // 3, 5, ..., 137
};

}  // namespace arith
