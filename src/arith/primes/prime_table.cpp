#include "arith/primes/prime_table.hpp"

#include <algorithm>

#include "arith/primes/wide.hpp"

namespace arith {

using common::Int64;

PrimeTable::PrimeTable() : Nprem{0, 2, 3} {}

void PrimeTable::extendPast(Int64 limit) {
  constexpr Int64 kSegment = Int64{1} << 18;
  std::vector<char> composite;
  while (Nprem.back() <= limit) {
    const Int64 last = Nprem.back();
    // A segment of numbers above the last prime, no higher than its square,
    // so that the table's primes sieve it completely.
    const Int64 lo = last + 1;
    // The segment ends at last^2 or kSegment further on, whichever comes first.
    const Int64 hi =
        static_cast<Uint128>(last) * static_cast<Uint128>(last) < static_cast<Uint128>(last) + kSegment
            ? last * last
            : last + kSegment;
    composite.assign(static_cast<std::size_t>(hi - lo + 1), 0);
    for (std::size_t j = 1; j < Nprem.size(); ++j) {
      const Int64 p = Nprem[j];
      if (static_cast<Uint128>(p) * p > static_cast<Uint128>(hi)) break;
      Int64 first = std::max(p * p, (lo + p - 1) / p * p);
      for (Int64 m = first; m <= hi; m += p) composite[static_cast<std::size_t>(m - lo)] = 1;
    }
    for (Int64 m = lo; m <= hi; ++m) {
      if (composite[static_cast<std::size_t>(m - lo)] == 0) {
        Nprem.push_back(m);
        ++np;
      }
    }
  }
}

}  // namespace arith
