#include "arith/primes/primality.hpp"

#include <algorithm>
#include <array>

#include "arith/primes/montgomery.hpp"
#include "arith/primes/wide.hpp"

namespace arith {

namespace {

// The end of a strong-probable-prime test, n - 1 = d 2^s: whether x = a^d
// is 1 or -1, or becomes -1 by squarings.
bool strongTail(const Montgomery& mont, std::uint64_t x, int s) {
  const std::uint64_t minusOne = mont.modulus() - mont.one();
  if (x == mont.one() || x == minusOne) return true;
  for (int r = 1; r < s; ++r) {
    x = mont.mul(x, x);
    if (x == minusOne) return true;
  }
  return false;
}

// The strong-probable-prime test of odd n > 2 to the base a, in Montgomery form.
bool strongProbablePrime64(const Montgomery& mont, std::uint64_t d, int s, std::uint64_t a) {
  const std::uint64_t base = a % mont.modulus();
  if (base == 0) return true;
  return strongTail(mont, mont.pow(mont.toForm(base), d), s);
}

// To the base 2, where a multiplication by the base is a doubling: most
// composites fail here, before any other base is converted.
bool strongProbablePrime64Base2(const Montgomery& mont, std::uint64_t d, int s) {
  std::uint64_t x = mont.one();
  for (int bit = 63 - __builtin_clzll(d); bit >= 0; --bit) {
    x = mont.mul(x, x);
    if ((d >> bit & 1) != 0) x = mont.add(x, x);
  }
  return strongTail(mont, x, s);
}

// The bases after 2 that decide every odd n below `below` (zeros fill the
// shorter sets):
// 7 and 61 below 4,759,123,141 (within 2^32), 13, 23 and 1662803 below
// 1,122,004,669,633 (G. Jaeschke, Math. Comp. 61 (1993)); then the shortest
// sets found by searches against the base-2 strong pseudoprimes below 2^64
// (S. Worley, J. Sinclair, 2011). A base is taken mod n, and a base 0 passes.
struct BaseSet {
  std::uint64_t below;
  std::array<std::uint64_t, 6> bases;
};
constexpr std::array<BaseSet, 6> kBaseSets{{
    {std::uint64_t{1} << 32, {7, 61}},
    {1122004669633ULL, {13, 23, 1662803}},
    {55245642489451ULL, {141889084524735ULL, 1199124725622454117ULL, 11096072698276303650ULL}},
    {7999252175582851ULL,
     {4130806001517ULL, 149795463772692060ULL, 186635894390467037ULL, 3967304179347715805ULL}},
    {585226005592931977ULL,
     {123635709730000ULL, 9233062284813009ULL, 43835965440333360ULL, 761179012939631437ULL,
      1263739024124850375ULL}},
    {UINT64_MAX, {325, 9375, 28178, 450775, 9780504, 1795265022}},
}};

// Miller-Rabin for odd n with no factor below 41.
bool millerRabin(std::uint64_t n) {
  if (n < 41ULL * 41ULL) return true;
  const Montgomery mont(n);
  std::uint64_t d = n - 1;
  int s = 0;
  for (; (d & 1) == 0; d >>= 1) ++s;
  if (!strongProbablePrime64Base2(mont, d, s)) return false;
  const auto& set = *std::ranges::find_if(kBaseSets, [n](const BaseSet& candidate) {
    return n < candidate.below || candidate.below == UINT64_MAX;
  });
  return std::ranges::all_of(set.bases,
                             [&](std::uint64_t a) { return strongProbablePrime64(mont, d, s, a); });
}

}  // namespace

bool isPrime64(std::uint64_t n) {
  if (n < 2) return false;
  for (std::uint64_t p : {2ULL, 3ULL, 5ULL, 7ULL, 11ULL, 13ULL, 17ULL, 19ULL, 23ULL, 29ULL, 31ULL, 37ULL}) {
    if (n % p == 0) return n == p;
  }
  return millerRabin(n);
}

PrimeTest::PrimeTest() : oddPrimeBits_(kBitmapLimit / 128, ~std::uint64_t{0}) {
  // Eratosthenes over the odd numbers: bit k stands for 2k + 1.
  oddPrimeBits_[0] &= ~std::uint64_t{1};  // 1 is not prime
  for (std::uint64_t p = 3; p * p < kBitmapLimit; p += 2) {
    if ((oddPrimeBits_[p / 128] >> (p / 2 % 64) & 1) == 0) continue;
    for (std::uint64_t m = p * p; m < kBitmapLimit; m += 2 * p)
      oddPrimeBits_[m / 128] &= ~(std::uint64_t{1} << (m / 2 % 64));
  }
  for (std::uint64_t p : {3,  5,  7,  11, 13, 17, 19, 23, 29,  31,  37,  41,  43,  47,  53,  59,
                          61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131, 137}) {
    filter_.push_back(OddDivisor::of(p));
  }
}

bool PrimeTest::operator()(std::uint64_t n) const {
  if ((n & 1) == 0) return n == 2;
  if (n < kBitmapLimit) return (oddPrimeBits_[n / 128] >> (n / 2 % 64) & 1) != 0;
  // Most composites have a small factor: a multiplication each rules it out.
  for (const OddDivisor& p : filter_) {
    if (p.divides(n)) return false;  // n is above every filtering prime
  }
  return millerRabin(n);
}

}  // namespace arith
