// The table of the first primes, grown lazily and kept for the whole run.
#pragma once

#include <span>
#include <vector>

#include "common/widths.hpp"

namespace arith {

class PrimeTable {
 public:
  // Seeded with 2 and 3; slot 0 exists and holds 0.
  PrimeTable();

  // Appends primes until the table holds every prime up to `limit` and one
  // beyond it, by a segmented sieve.
  void extendPast(common::Int64 limit);

  // The primes in a plain 0-based view: 2, 3, 5, ... (the engine's way in).
  std::span<const common::Int64> primes() const { return std::span<const common::Int64>(Nprem).subspan(1); }

  common::Int64 np = 2;              // index of the last prime
  std::vector<common::Int64> Nprem;  // Nprem[1..np]: 2, 3, 5, ...
};

}  // namespace arith
