// The table of the first primes, grown lazily and kept for the whole run.
#pragma once

#include <vector>

#include "common/widths.hpp"

namespace arith {

class PrimeTable {
 public:
  // Seeded with 2 and 3; slot 0 exists and holds 0.
  PrimeTable();

  // Appends the next prime by trial division over the table. Returns 1.
  common::Int32 Suiv();

  // Appends primes until the table holds every prime up to `limit` and one
  // beyond it. A segmented sieve: the same table as calling Suiv repeatedly,
  // much faster for large limits.
  void extendPast(common::Int64 limit);

  common::Int64 np = 2;              // index of the last prime
  std::vector<common::Int64> Nprem;  // Nprem[1..np]: 2, 3, 5, ...
};

}  // namespace arith
