#include "arith/inversion/sigma_inverse.hpp"

#include <algorithm>
#include <cmath>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

HighPowerSums::HighPowerSums(PrimeTable& table) {
  constexpr std::uint64_t kTop = (std::uint64_t{1} << 63) - 1;
  constexpr std::uint64_t kLargestPrime = std::uint64_t{1} << 21;  // (2^21)^3 = 2^63
  table.extendPast(static_cast<common::Int64>(kLargestPrime));
  for (const common::Int64 prime : table.primes()) {
    const auto p = static_cast<std::uint64_t>(prime);
    if (p > kLargestPrime) break;
    // sigma(p^k) = sigma(p^(k-1)) * p + 1, kept while it stays below 2^63.
    Uint128 sigma = 1 + p + static_cast<Uint128>(p) * p;
    for (;;) {
      sigma = sigma * p + 1;
      if (sigma > kTop) break;
      sums_.emplace_back(static_cast<std::uint64_t>(sigma), p);
    }
  }
  std::sort(sums_.begin(), sums_.end());
  filter_.assign((std::uint64_t{1} << kFilterBits) / 64, 0);
  for (const auto& [sum, prime] : sums_) filter_[hash(sum) / 64] |= std::uint64_t{1} << (hash(sum) % 64);
}

SigmaInverse::SigmaInverse(const Factorizer& factorizer, const HighPowerSums& highPowerSums)
    : factorizer_(factorizer), highPowerSums_(highPowerSums) {}

// Every prime power p^k (k >= 1) whose sigma is the divisor at `index`.
void SigmaInverse::listFactors(std::size_t index) {
  const std::uint64_t d = divisors_[index];
  // k = 1: p = d - 1. Odd primes give an even d, and 2 gives 3.
  if ((d % 2 == 0 || d == 3) && factorizer_.isPrime(d - 1)) factors_.push_back({d - 1, index});
  // k = 2: p^2 < d - 1 = p^2 + p < (p + 1)^2, so p is the square root of
  // d - 1, which the double root finds: d - 1 < 2^63 is off by at most 2^9
  // in a double, far less than the gap of p + 1 to the next square.
  // sigma(p^2) is always odd.
  if (d % 2 == 1 && d >= 7) {
    const auto p = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(d - 1)));
    if (p * p + p + 1 == d && factorizer_.isPrime(p)) factors_.push_back({p, index});
  }
  highPowerSums_.find(d, [&](std::uint64_t p) { factors_.push_back({p, index}); });
}

SigmaInverse::Digits SigmaInverse::digitsOf(std::size_t index) const {
  Digits digits = {};
  for (std::size_t i = exponents_.size(); i-- > 0;) {
    digits[i] = index / strides_[i];
    index %= strides_[i];
  }
  return digits;
}

// N's exponents less those of the divisor at `index`, prime by prime.
SigmaInverse::Digits SigmaInverse::cofactorDigits(std::size_t index) const {
  Digits limits = digitsOf(index);
  for (std::size_t i = 0; i < exponents_.size(); ++i)
    limits[i] = static_cast<std::size_t>(exponents_[i]) - limits[i];
  return limits;
}

// For every divisor m of N / d with some ways, where d is the divisor at
// `index`, notes that d * m gains the ways of m.
void SigmaInverse::addMultiples(std::size_t index) {
  forEachWithin(cofactorDigits(index), [&](std::size_t m) {
    if (ways_[m] != 0) additions_.emplace_back(index + m, ways_[m]);
  });
}

// The same for a prime with one power alone among the factors, applied in
// place: the m come in decreasing order, and d * m lies above m, so each
// ways_[m] is read before any addition of this prime reaches it.
void SigmaInverse::addMultiplesInPlace(std::size_t index) {
  const std::size_t r = exponents_.size();
  const Digits limits = cofactorDigits(index);
  Digits digits = limits;
  std::size_t m = 0;
  for (std::size_t i = 0; i < r; ++i) m += limits[i] * strides_[i];
  for (;;) {
    if (ways_[m] != 0) ways_[index + m] += ways_[m];
    std::size_t i = 0;
    while (i < r && digits[i] == 0) {
      digits[i] = limits[i];
      m += limits[i] * strides_[i];
      ++i;
    }
    if (i == r) return;
    --digits[i];
    m -= strides_[i];
  }
}

common::Count SigmaInverse::count(std::uint64_t N) {
  const std::vector<PrimePower> primes = factorizer_.factorize(N);
  return count(N, primes);
}

void SigmaInverse::prepare([[maybe_unused]] std::uint64_t N, std::span<const PrimePower> primes) {
  SIGMA_ASSERT(N >= 1 && N <= static_cast<std::uint64_t>(common::kLargestBound));
  // A number below 2^64 has fewer distinct primes than the digits' table holds.
  SIGMA_ASSERT(primes.size() < std::tuple_size_v<Digits>);
  divisors_.assign(1, 1);
  exponents_.clear();
  strides_.clear();
  for (const PrimePower& pp : primes) {
    const std::size_t before = divisors_.size();
    exponents_.push_back(pp.exponent);
    strides_.push_back(before);
    std::uint64_t power = 1;
    for (int e = 1; e <= pp.exponent; ++e) {
      power *= pp.prime;
      for (std::size_t k = 0; k < before; ++k) divisors_.push_back(divisors_[k] * power);
    }
  }

  factors_.clear();
  for (std::size_t k = 1; k < divisors_.size(); ++k) listFactors(k);
  std::sort(factors_.begin(), factors_.end(),
            [](const Factor& a, const Factor& b) { return a.prime < b.prime; });
}

common::Count SigmaInverse::count(std::uint64_t N, std::span<const PrimePower> primes) {
  if (N == 1) return 1;  // m = 1
  prepare(N, primes);
  if (factors_.empty()) return 0;

  // ways_[i]: how many products of factors with distinct primes, among those
  // taken so far, make the divisor at i. Each prime is taken once, with at
  // most one of its powers (a 0/1 knapsack): the additions of one prime are
  // all formed from the ways before it, then applied.
  ways_.assign(divisors_.size(), 0);
  ways_[0] = 1;
  for (std::size_t first = 0; first < factors_.size();) {
    std::size_t last = first;
    while (last < factors_.size() && factors_[last].prime == factors_[first].prime) ++last;
    if (last == first + 1) {
      addMultiplesInPlace(factors_[first].divisor);
    } else {
      additions_.clear();
      for (std::size_t f = first; f < last; ++f) addMultiples(factors_[f].divisor);
      for (const auto& [at, ways] : additions_) ways_[at] += ways;
    }
    first = last;
  }
  // Each way is one m with sigma(m) = N, so there are at most N of them.
  SIGMA_ASSERT(ways_.back() <= N);
  return static_cast<common::Count>(ways_.back());
}

}  // namespace arith
