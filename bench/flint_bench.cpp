// The project's factoring and primality against FLINT's (n_factor,
// n_is_prime), on the numbers the inversion meets: cofactors that a sieve by
// the primes below 2^20 leaves composite near 2^62, and the odd d - 1 near
// 10^12 and 2^62 whose primality it asks. Built when FLINT is installed.
#include <flint/ulong_extras.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "arith/inversion/factorizer.hpp"
#include "arith/inversion/rho_lanes.hpp"
#include "arith/primes/primality.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main() {
  arith::PrimeTable table;
  const arith::Factorizer factorizer(table);
  std::vector<std::uint64_t> composite;
  for (std::uint64_t n = std::uint64_t{1} << 62; composite.size() < 3000; ++n) {
    std::uint64_t rest = n >> __builtin_ctzll(n);
    for (const auto& t : factorizer.sievingPrimes()) {
      while (arith::Factorizer::divides(t, rest)) rest *= t.inverse;
    }
    if (rest > (std::uint64_t{1} << 40) && !factorizer.isPrime(rest)) composite.push_back(rest);
  }
  std::uint64_t check = 0;
  const auto t0 = Clock::now();
  for (const std::uint64_t rest : composite) {
    std::vector<arith::PrimePower> factors;
    factorizer.factorRest(rest, arith::Factorizer::kSieveLimit, factors);
    check += factors[0].prime;
  }
  const auto t1 = Clock::now();
  for (const std::uint64_t rest : composite) {
    n_factor_t factors;
    n_factor_init(&factors);
    n_factor(&factors, rest, 0);
    std::uint64_t smallest = factors.p[0];
    for (int k = 1; k < factors.num; ++k) smallest = std::min<std::uint64_t>(smallest, factors.p[k]);
    check -= smallest;  // the program lists its factors in increasing order
  }
  const auto t2 = Clock::now();
  // All at once, as a block of the inversion splits them: a proper factor of each.
  std::vector<std::uint64_t> divisors(composite.size());
  arith::splitComposites(composite, divisors);
  const auto t3 = Clock::now();
  bool proper = true;
  for (std::size_t k = 0; k < composite.size(); ++k)
    proper = proper && divisors[k] > 1 && divisors[k] < composite[k] && composite[k] % divisors[k] == 0;
  const auto each = [&](Clock::time_point from, Clock::time_point to) {
    return seconds(from, to) * 1e6 / static_cast<double>(composite.size());
  };
  std::printf(
      "composite cofactors near 2^62: this program %.1f us one at a time, %.1f us four at a time (split "
      "only, %s); FLINT n_factor %.1f us each (%s)\n",
      each(t0, t1), each(t2, t3), proper ? "proper factors" : "WRONG", each(t1, t2),
      check == 0 ? "same factors" : "DIFFER");
  const arith::PrimeTest test;
  for (const std::uint64_t base : {std::uint64_t{1000000000000}, std::uint64_t{1} << 62}) {
    constexpr std::uint64_t kOdd = 1000000;
    std::uint64_t ours = 0;
    std::uint64_t theirs = 0;
    const auto a = Clock::now();
    for (std::uint64_t n = base + 1; n < base + 2 * kOdd; n += 2) ours += test(n) ? 1 : 0;
    const auto b = Clock::now();
    for (std::uint64_t n = base + 1; n < base + 2 * kOdd; n += 2) theirs += n_is_prime(n) != 0 ? 1 : 0;
    const auto c = Clock::now();
    std::printf(
        "primality of odd numbers from %llu: this program %.0f ns, FLINT n_is_prime %.0f ns each (%s)\n",
        static_cast<unsigned long long>(base), seconds(a, b) * 1e9 / kOdd, seconds(b, c) * 1e9 / kOdd,
        ours == theirs ? "same primes" : "DIFFER");
  }
  return 0;
}
