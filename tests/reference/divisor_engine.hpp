// The tests' independent reference: one candidate at a time, factorized by
// trial division over the prime table grown one prime at a time (Suiv), its
// divisor sum, and the match with the value under examination. The slow
// method every fast one is checked against; not part of the program.
#pragma once

#include <vector>

#include "arith/primes/prime_table.hpp"
#include "arith/primes/wide.hpp"
#include "common/widths.hpp"

namespace reference {

using arith::isqrt;
using arith::PrimeTable;
using arith::Uint128;

// Appends the next prime to the table by trial division over it. Returns 1.
common::Int32 Suiv(PrimeTable& table);

class DivisorEngine {
 public:
  explicit DivisorEngine(PrimeTable& table);

  // Factorizes S, forms SN = sigma(S) exactly and adds 1 to ns when SN == N.
  // S comes back unchanged and the factor lists are cut back to one slot.
  void calcul();

  // Fills Nfact[1..nf] and Nexpo[1..nf] with the prime factors of S and their
  // exponents, dividing S down to 1. Returns 1.
  common::Int32 decomp();

  // How many m in 1 .. N + 1 have sigma(m) == N, one calcul per candidate.
  // The slow reference method, kept for checking the fast ones.
  common::Int64 countByTrialDivision(common::Int64 value);

  // counts[N - L1] = how many m have sigma(m) == N, for N in [L1, L2]: each
  // candidate factorized once. The first, simple census, kept as a baseline.
  void tallyInterval(common::Int64 L1, common::Int64 L2, std::vector<common::Count>& counts);

  common::Int64 S = 0;               // the candidate m
  common::Int64 N = 0;               // the value its divisor sum is compared with
  common::Int64 ns = 0;              // matches so far
  Uint128 SN = 0;                    // sigma of the last candidate: may exceed 2^63 for large S
  common::Int32 nf = 0;              // distinct prime factors recorded
  std::vector<common::Int64> Nfact;  // Nfact[1..nf]: the prime factors, increasing
  std::vector<common::Int64> Nexpo;  // Nexpo[j]: the exponent of Nfact[j]

 private:
  PrimeTable& table_;
};

}  // namespace reference
