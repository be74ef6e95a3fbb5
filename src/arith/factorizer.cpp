#include "arith/factorizer.hpp"

#include <algorithm>
#include <numeric>

#include "arith/montgomery.hpp"

namespace arith {

Factorizer::Factorizer(PrimeTable& table) {
  table.extendPast(static_cast<common::Int64>(kTrialLimit));
  for (std::size_t j = 2; j < table.Nprem.size(); ++j) {
    const auto p = static_cast<std::uint64_t>(table.Nprem[j]);
    if (p >= kTrialLimit) break;
    std::uint64_t inv = p;
    for (int k = 0; k < 5; ++k) inv *= 2 - p * inv;
    trial_.push_back({p, inv, UINT64_MAX / p});
  }
}

bool Factorizer::isPrime(std::uint64_t n) const {
  if (n < 2) return false;
  if ((n & 1) == 0) return n == 2;
  for (const TrialPrime& t : trial_) {
    if (t.prime * t.prime > n) return true;
    if (divides(t, n)) return n == t.prime;
  }
  return isPrime64(n);
}

std::vector<PrimePower> Factorizer::factorize(std::uint64_t n) const {
  std::vector<PrimePower> factors;
  if (n <= 1) return factors;
  if ((n & 1) == 0) {
    const int twos = __builtin_ctzll(n);
    factors.push_back({2, twos});
    n >>= twos;
  }
  for (const TrialPrime& t : trial_) {
    if (t.prime * t.prime > n) break;
    if (!divides(t, n)) continue;
    int e = 0;
    do {
      n *= t.inverse;  // the exact quotient, without a division
      ++e;
    } while (divides(t, n));
    factors.push_back({t.prime, e});
  }
  if (n == 1) return factors;
  std::vector<std::uint64_t> large;
  if (n < kTrialLimit * kTrialLimit) {
    large.push_back(n);  // no factor below its square root
  } else {
    splitLarge(n, large);
  }
  std::sort(large.begin(), large.end());
  for (std::size_t k = 0; k < large.size();) {
    std::size_t next = k;
    while (next < large.size() && large[next] == large[k]) ++next;
    factors.push_back({large[k], static_cast<int>(next - k)});
    k = next;
  }
  return factors;
}

void Factorizer::splitLarge(std::uint64_t n, std::vector<std::uint64_t>& primes) const {
  if (n == 1) return;
  if (isPrime64(n)) {
    primes.push_back(n);
    return;
  }
  const std::uint64_t d = pollardBrent(n);
  splitLarge(d, primes);
  splitLarge(n / d, primes);
}

std::uint64_t pollardBrent(std::uint64_t n) {
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
