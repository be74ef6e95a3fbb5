#include "arith/inversion/factorizer.hpp"

#include <algorithm>
#include <numeric>

#include "arith/inversion/rho_lanes.hpp"
#include "arith/primes/montgomery.hpp"
#include "common/check.hpp"

namespace arith {

Factorizer::Factorizer(PrimeTable& table) {
  table.extendPast(static_cast<common::Int64>(kSieveLimit));
  for (const common::Int64 prime : table.primes().subspan(1)) {  // the odd primes
    const auto p = static_cast<std::uint64_t>(prime);
    if (p >= kSieveLimit) break;
    trial_.push_back(OddDivisor::of(p));
  }
}

std::vector<PrimePower> Factorizer::factorize(std::uint64_t n) const {
  std::vector<PrimePower> factors;
  if (n <= 1) return factors;
  if ((n & 1) == 0) {
    const int twos = __builtin_ctzll(n);
    factors.push_back({2, twos});
    n >>= twos;
  }
  for (const OddDivisor& t : trial_) {
    if (t.prime >= kTrialLimit || t.prime * t.prime > n) break;
    if (!t.divides(n)) continue;
    int e = 0;
    do {
      n = t.quotient(n);
      ++e;
    } while (t.divides(n));
    factors.push_back({t.prime, e});
  }
  factorRest(n, kTrialLimit, factors);
  return factors;
}

void Factorizer::factorRest(std::uint64_t rest, std::uint64_t bound, std::vector<PrimePower>& factors) const {
  if (rest == 1) return;
  std::vector<std::uint64_t> large;
  if (rest / bound < bound) {
    large.push_back(rest);  // no factor below its square root
  } else {
    splitLarge(rest, large);
  }
  appendGrouped(large, factors);
}

void Factorizer::factorSplit(std::uint64_t rest, std::uint64_t divisor,
                             std::vector<PrimePower>& factors) const {
  SIGMA_ASSERT(divisor > 1 && divisor < rest && rest % divisor == 0);
  std::vector<std::uint64_t> large;
  splitLarge(divisor, large);
  splitLarge(rest / divisor, large);
  appendGrouped(large, factors);
}

void Factorizer::appendGrouped(std::vector<std::uint64_t>& large, std::vector<PrimePower>& factors) {
  std::sort(large.begin(), large.end());
  for (std::size_t k = 0; k < large.size();) {
    std::size_t next = k;
    while (next < large.size() && large[next] == large[k]) ++next;
    factors.push_back({large[k], static_cast<int>(next - k)});
    k = next;
  }
}

void Factorizer::splitLarge(std::uint64_t n, std::vector<std::uint64_t>& primes) const {
  if (n == 1) return;
  if (isPrime(n)) {
    primes.push_back(n);
    return;
  }
  const std::uint64_t d = pollardBrent(n);
  splitLarge(d, primes);
  splitLarge(n / d, primes);
}

void BlockFactorizer::factor(std::uint64_t first, std::size_t count) {
  SIGMA_ASSERT(first >= 1 && first - 1 <= ~std::uint64_t{0} - count);
  if (count == 0) return;
  rest_.resize(count);
  used_.assign(count, 0);
  factors_.resize(count * kMostFactors);
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t n = first + k;
    const int twos = __builtin_ctzll(n);
    rest_[k] = n >> twos;
    if (twos > 0) add(k, 2, twos);
  }
  finishRests(count, sieveOddPrimes(first, count));
}

// Each odd prime hits every p-th number, from the first multiple on, and
// its exact quotients come by a product with its inverse. Past the square
// root of the last number, what is left of each is 1 or a prime. Returns the
// bound below which no prime factor is left.
std::uint64_t BlockFactorizer::sieveOddPrimes(std::uint64_t first, std::size_t count) {
  const std::uint64_t last = first + count - 1;
  for (const OddDivisor& t : factorizer_.sievingPrimes()) {
    if (t.prime > last / t.prime) return t.prime;
    for (std::size_t k = (t.prime - first % t.prime) % t.prime; k < count; k += t.prime) {
      std::uint64_t r = rest_[k];
      int e = 0;
      do {
        r = t.quotient(r);
        ++e;
      } while (t.divides(r));
      rest_[k] = r;
      add(k, t.prime, e);
    }
  }
  return Factorizer::kSieveLimit;
}

// What is left is 1, a prime, or a composite without a factor below bound;
// the composites are split all together (see rho_lanes.hpp).
void BlockFactorizer::finishRests(std::size_t count, std::uint64_t bound) {
  pending_.clear();
  composites_.clear();
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t r = rest_[k];
    if (r == 1) continue;
    if (r / bound < bound || factorizer_.isPrime(r)) {
      add(k, r, 1);
    } else {
      pending_.push_back(k);
      composites_.push_back(r);
    }
  }
  divisors_.resize(composites_.size());
  splitComposites(composites_, divisors_);
  for (std::size_t j = 0; j < pending_.size(); ++j) {
    scratch_.clear();
    factorizer_.factorSplit(composites_[j], divisors_[j], scratch_);
    for (const PrimePower& f : scratch_) add(pending_[j], f.prime, f.exponent);
  }
}

std::uint64_t pollardBrent(std::uint64_t n) {
  SIGMA_ASSERT((n & 1) == 1 && n > 3 && !isPrime64(n));
  const Montgomery mont(n);
  constexpr int kBatch = 128;  // steps between two gcds
  for (std::uint64_t c = 1;; ++c) {
    const std::uint64_t cm = mont.toForm(c);
    auto f = [&](std::uint64_t x) { return mont.add(mont.mul(x, x), cm); };
    std::uint64_t y = mont.toForm(2);
    std::uint64_t x = y;
    std::uint64_t ys = y;
    std::uint64_t q = mont.one();
    std::uint64_t g = 1;
    for (std::uint64_t r = 1; g == 1; r <<= 1) {
      x = y;
      for (std::uint64_t i = 0; i < r; ++i) y = f(y);
      for (std::uint64_t k = 0; k < r && g == 1; k += kBatch) {
        ys = y;
        const std::uint64_t steps = std::min<std::uint64_t>(kBatch, r - k);
        for (std::uint64_t i = 0; i < steps; ++i) {
          y = f(y);
          q = mont.mul(q, x > y ? x - y : y - x);
        }
        g = std::gcd(q, n);
      }
    }
    if (g == n) {
      // The batch overshot: retrace it one step at a time.
      do {
        ys = f(ys);
        g = std::gcd(x > ys ? x - ys : ys - x, n);
      } while (g == 1);
    }
    if (g != n) return g;
  }
}

}  // namespace arith
