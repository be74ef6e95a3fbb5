// Which candidates m can have their divisor sum in a block of values [A, B].
//
// Every m > 1 has sigma(m) > m, so the candidates stop below B. From below,
// sigma(m) / m is bounded, and more tightly in some residue classes modulo 6:
//
// - Robin (1984): sigma(m) < e^gamma m ln ln m + 0.6483 m / ln ln m for m >= 3.
// - For each prime power, sigma(p^e) / p^e = 1 + 1/p + ... + 1/p^e < p / (p - 1),
//   so sigma(m) / m < prod over the primes p dividing m of p / (p - 1).
//   The primes of m from 5 on, j of them, are at least the first j primes
//   from 5 on, whose product is then at most m; as p / (p - 1) falls with p,
//   their part of the product is at most P5(m), the product of p / (p - 1)
//   over the longest run 5, 7, 11, ... whose product stays at most m.
//   The part of 2 is below 2 and that of 3 below 3/2. So for m <= X:
//   m prime to 6:            sigma(m) / m < P5(X)
//   m odd, a multiple of 3:  sigma(m) / m < 3/2 P5(X)
//   m even, prime to 3:      sigma(m) / m < 2 P5(X)
//   m a multiple of 6:       sigma(m) / m < 3 P5(X), and Robin's bound.
//
// A candidate of a class whose bound is k reaches A only if k m > A: those
// below A / k are skipped. For A near 2^36, P5 is about 2.18 against Robin's
// 5.4: a third of the numbers start at A / 2.18 instead of A / 5.4.
#pragma once

#include <array>
#include <cstdint>

namespace arith {

// The smallest m whose divisor sum can reach `value`, whatever its class.
std::uint64_t lowestCandidate(std::uint64_t value);

struct CandidateRange {
  std::array<std::uint64_t, 6> lowest{};  // by m mod 6: the class's first candidate
  std::uint64_t end = 1;                  // one past the last candidate

  std::uint64_t lowestOfAll() const;
  std::uint64_t highestStart() const;  // from here on every class is a candidate
  double size() const;                 // how many candidates in all
  // Whether the candidates start so low that nearly every number below the
  // end is one: then sieving the numbers prime to 6 alone gives them all
  // (see candidate_sums.cpp).
  bool startsLow() const { return lowestOfAll() <= end / 16; }
};

// The candidates for the values [first, last].
CandidateRange candidatesFor(std::uint64_t first, std::uint64_t last);

}  // namespace arith
