#include "arith/sieve/candidate_bounds.hpp"

#include <algorithm>
#include <cmath>

namespace arith {

namespace {

double robinBound(double m) {
  const double lnln = std::log(std::log(m));
  return 1.7810724179901979 * m * lnln + 0.6483 * m / lnln;  // e^gamma
}

// P5(x): the product of p / (p - 1) over 5, 7, 11, ... while their product stays at most x.
double productFrom5(std::uint64_t x) {
  constexpr std::uint64_t kPrimes[] = {5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61};
  double bound = 1;
  std::uint64_t product = 1;
  for (std::uint64_t p : kPrimes) {
    if (product > x / p) break;
    product *= p;
    bound *= static_cast<double>(p) / static_cast<double>(p - 1);
  }
  return bound;
}

// The first m with k m > value, less a margin for the rounding of doubles.
std::uint64_t startBelow(std::uint64_t value, double k) {
  const double m = static_cast<double>(value) / k;
  const auto margin = static_cast<std::uint64_t>(m * 1e-9) + 2;
  const auto start = static_cast<std::uint64_t>(m);
  return start > margin ? start - margin : 1;
}

}  // namespace

std::uint64_t lowestCandidate(std::uint64_t value) {
  // Below 64 the bound is of no use; and sigma(m) <= 12 for every m < 7, where
  // the bound is not monotonic.
  if (value <= 64) return 1;
  std::uint64_t lo = 7;
  std::uint64_t hi = value;  // robinBound(value) >= value
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (robinBound(static_cast<double>(mid)) >= static_cast<double>(value)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  // A margin for the rounding of the bound in double precision.
  const auto margin = static_cast<std::uint64_t>(static_cast<double>(lo) * 1e-9) + 2;
  return lo > margin ? lo - margin : 1;
}

CandidateRange candidatesFor(std::uint64_t first, std::uint64_t last) {
  CandidateRange range;
  range.end = std::max<std::uint64_t>(last, 2);  // m = 1 (sigma 1) is always taken
  const std::uint64_t robin = lowestCandidate(first);
  const double p5 = productFrom5(last);
  const double bounds[6] = {3 * p5, p5, 2 * p5, 1.5 * p5, 2 * p5, p5};  // by m mod 6
  for (std::size_t r = 0; r < 6; ++r) {
    range.lowest[r] = std::min(range.end, std::max(robin, startBelow(first, bounds[r])));
  }
  return range;
}

std::uint64_t CandidateRange::lowestOfAll() const { return *std::min_element(lowest.begin(), lowest.end()); }

std::uint64_t CandidateRange::highestStart() const { return *std::max_element(lowest.begin(), lowest.end()); }

double CandidateRange::size() const {
  double total = 0;
  for (std::uint64_t start : lowest) total += static_cast<double>(end - start) / 6;
  return total;
}

}  // namespace arith
