// The inversion of the divisor sum against counts made another way.
#include "arith/inversion/sigma_inverse.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "arith/inversion/factorizer.hpp"
#include "arith/primes/montgomery.hpp"
#include "collect_counts.hpp"

namespace {

using Uint128 = arith::Uint128;

// A plainly written count, sharing no code with the engine: the number is
// given by its factorization over small primes, primality is a textbook
// Miller-Rabin with 128-bit products (the first twelve primes as bases are
// enough below 3.3 * 10^24), prime powers are found by integer roots, and the
// ways to build each divisor are kept in a hash map keyed by the divisor.
class PlainInverse {
 public:
  explicit PlainInverse(std::vector<std::pair<std::uint64_t, int>> factors) : factors_(std::move(factors)) {
    n_ = 1;
    for (auto [p, e] : factors_)
      for (int k = 0; k < e; ++k) n_ *= p;
  }

  std::uint64_t count() const {
    std::map<std::uint64_t, std::vector<std::uint64_t>> sumsByPrime;  // p -> the sigma(p^k) dividing n
    for (std::uint64_t d : divisorsOf(n_)) {
      if (d > 2 && isPrime(d - 1)) sumsByPrime[d - 1].push_back(d);
      for (int k = 2; k < 63; ++k) {
        const std::uint64_t p = root(d - 1, k);
        if (p < 2) break;
        if (sigmaOfPower(p, k) == d && isPrime(p)) sumsByPrime[p].push_back(d);
      }
    }
    std::unordered_map<std::uint64_t, std::uint64_t> ways{{1, 1}};
    for (const auto& [p, sums] : sumsByPrime) {
      std::vector<std::pair<std::uint64_t, std::uint64_t>> additions;
      for (std::uint64_t s : sums) {
        for (std::uint64_t e : divisorsOf(n_ / s)) {
          const auto it = ways.find(e);
          if (it != ways.end()) additions.emplace_back(e * s, it->second);
        }
      }
      for (auto [at, w] : additions) ways[at] += w;
    }
    return ways[n_];
  }

 private:
  std::vector<std::uint64_t> divisorsOf(std::uint64_t m) const {
    std::vector<std::uint64_t> divisors{1};
    for (auto [p, e] : factors_) {
      const std::size_t before = divisors.size();
      std::uint64_t power = 1;
      for (int k = 0; k < e && m % (power * p) == 0; ++k) {
        power *= p;
        for (std::size_t j = 0; j < before; ++j) divisors.push_back(divisors[j] * power);
      }
    }
    return divisors;
  }
  static std::uint64_t root(std::uint64_t x, int k) {
    auto r = static_cast<std::uint64_t>(std::pow(static_cast<double>(x), 1.0 / k));
    auto power = [k](std::uint64_t b) {
      Uint128 v = 1;
      for (int j = 0; j < k && v <= UINT64_MAX; ++j) v *= b;
      return v;
    };
    while (r > 0 && power(r) > x) --r;
    while (power(r + 1) <= x) ++r;
    return r;
  }
  static Uint128 sigmaOfPower(std::uint64_t p, int k) {
    Uint128 s = 1;
    for (int j = 0; j < k && s < (Uint128{1} << 64); ++j) s = s * p + 1;
    return s;
  }
  static std::uint64_t powMod(std::uint64_t b, std::uint64_t e, std::uint64_t m) {
    Uint128 r = 1;
    Uint128 x = b % m;
    for (; e != 0; e >>= 1) {
      if (e & 1) r = r * x % m;
      x = x * x % m;
    }
    return static_cast<std::uint64_t>(r);
  }
  static bool isPrime(std::uint64_t n) {
    if (n < 2) return false;
    for (std::uint64_t p : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
      if (n % p == 0) return n == p;
    }
    std::uint64_t d = n - 1;
    int s = 0;
    for (; d % 2 == 0; d /= 2) ++s;
    for (std::uint64_t a : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
      std::uint64_t x = powMod(a, d, n);
      if (x == 1 || x == n - 1) continue;
      bool composite = true;
      for (int r = 1; r < s && composite; ++r) {
        x = static_cast<std::uint64_t>(Uint128{x} * x % n);
        composite = x != n - 1;
      }
      if (composite) return false;
    }
    return true;
  }

  std::vector<std::pair<std::uint64_t, int>> factors_;
  std::uint64_t n_;
};

class Inversion : public ::testing::Test {
 protected:
  arith::PrimeTable table;
  arith::Factorizer factorizer{table};
  arith::HighPowerSums highPowerSums{table};
  arith::SigmaInverse inverse{factorizer, highPowerSums};
};

TEST_F(Inversion, CountsAbove2To32AgreeWithAPlainCount) {
  // 20! = 2^18 3^8 5^4 7^2 11 13 17 19, then twice and three times it.
  const std::vector<std::pair<std::uint64_t, int>> factorial20 = {{2, 18}, {3, 8},  {5, 4},  {7, 2},
                                                                  {11, 1}, {13, 1}, {17, 1}, {19, 1}};
  auto times = [&](std::uint64_t p) {
    auto f = factorial20;
    for (auto& [q, e] : f) e += q == p ? 1 : 0;
    return f;
  };
  const PlainInverse twenty(factorial20);
  const PlainInverse twice(times(2));
  const PlainInverse thrice(times(3));
  EXPECT_EQ(inverse.count(2432902008176640000ULL), twenty.count());
  EXPECT_EQ(inverse.count(4865804016353280000ULL), twice.count());
  EXPECT_EQ(inverse.count(7298706024529920000ULL), thrice.count());
  // The published count for 20!, and one above 2^32.
  EXPECT_EQ(inverse.count(2432902008176640000ULL), 2801857644);
  EXPECT_EQ(inverse.count(7298706024529920000ULL), 4957364730);
}

TEST_F(Inversion, SmallValuesAndHighlyCompositeOnesAgreeWithAPlainCount) {
  EXPECT_EQ(inverse.count(1), 1);
  EXPECT_EQ(inverse.count(2), 0);
  EXPECT_EQ(inverse.count(12), 2);
  EXPECT_EQ(inverse.count(72), 5);
  EXPECT_EQ(inverse.count(720), 15);
  // 9200527969062830400 has the most divisors below 2^63 (161280).
  std::vector<std::pair<std::uint64_t, int>> most = {{2, 6}, {3, 4}, {5, 2}, {7, 2}};
  for (std::uint64_t p : {11, 13, 17, 19, 23, 29, 31, 37, 41}) most.emplace_back(p, 1);
  EXPECT_EQ(inverse.count(9200527969062830400ULL), PlainInverse(most).count());
  std::mt19937_64 random(2026);
  const std::uint64_t small[] = {2, 3, 5, 7, 11, 13};
  for (int round = 0; round < 40; ++round) {
    std::vector<std::pair<std::uint64_t, int>> factors;
    std::uint64_t n = 1;
    for (std::uint64_t p : small) {
      int e = static_cast<int>(random() % 6);
      while (e > 0 && n > (std::uint64_t{1} << 62) / p) --e;
      factors.emplace_back(p, e);
      for (int k = 0; k < e; ++k) n *= p;
    }
    EXPECT_EQ(static_cast<std::uint64_t>(inverse.count(n)), PlainInverse(factors).count()) << n;
  }
}

TEST_F(Inversion, PowersOfTwoNear2To32And2To53And2To63) {
  // sigma(m) = 2^k exactly when m is a product of distinct Mersenne primes
  // 2^p - 1 whose exponents add up to k: count those sets independently.
  const std::vector<int> exponents = {2, 3, 5, 7, 13, 17, 19, 31, 61};
  for (int k : {31, 32, 33, 52, 53, 54, 61, 62}) {
    common::Count sets = 0;
    for (unsigned mask = 0; mask < (1u << exponents.size()); ++mask) {
      int sum = 0;
      for (std::size_t j = 0; j < exponents.size(); ++j) sum += (mask >> j & 1u) != 0 ? exponents[j] : 0;
      if (sum == k) ++sets;
    }
    EXPECT_EQ(inverse.count(std::uint64_t{1} << k), sets) << "2^" << k;
  }
  // The sum of a random m is reached at least by m itself.
  std::mt19937_64 random(11);
  for (int k = 0; k < 200; ++k) {
    const std::uint64_t m = (random() >> 2) / 7;  // sigma(m) stays below 2^63
    EXPECT_GE(inverse.count(sigmaOf(factorizer, m)), 1) << m;
  }
}

}  // namespace
