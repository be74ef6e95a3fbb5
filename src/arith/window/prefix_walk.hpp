// The prefixes k of the numbers m = k p^e whose divisor sum can reach a
// window of values: p is the largest prime factor of m, e >= 1, and every
// prime of k is below p.
//
// sigma(m) = sigma(k) sigma(p^e) >= sigma(k) (p + 1) >= sigma(k) (P(k) + 2),
// where P(k) is the largest prime factor of k (P(1) = 1), since p > P(k). So
// a k with sigma(k) (P(k) + 2) > last prefixes no m with sigma(m) <= last.
// The bound is inherited: a child k' = k r^f (r > P(k), f >= 1) has
// sigma(k') (r + 2) >= sigma(k) (r + 1) (r + 2) > sigma(k) (P(k) + 2), and it
// grows with r and with f, so the walk stops at the first r, and the first f,
// that fails it. Every k is reached exactly once, from k without its largest
// prime power.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"
#include "common/widths.hpp"

namespace arith {

struct Prefix {
  std::uint64_t k = 1;
  std::uint64_t sigma = 1;    // sigma(k)
  std::uint64_t largest = 1;  // P(k); 1 for k = 1
  std::size_t nextPrime = 0;  // index in the primes of the first prime above P(k)
};

class PrefixWalk {
 public:
  // The prefixes for the sums up to `last`, with sigma(k) <= sigmaLimit.
  // `primes` (2, 3, 5, ...) must hold a prime above the square root of last.
  PrefixWalk(std::span<const common::Int64> primes, std::uint64_t last,
             std::uint64_t sigmaLimit = std::numeric_limits<std::uint64_t>::max())
      : primes_(primes), last_(last), sigmaLimit_(sigmaLimit) {
    SIGMA_ASSERT(!primes.empty() && static_cast<std::uint64_t>(primes.back()) > isqrt(last));
  }

  // Calls visit(child) for each child k r^f of `k` that passes the bound.
  template <class Visit>
  void forEachChild(const Prefix& k, const Visit& visit) const {
    for (std::size_t i = k.nextPrime; i < primes_.size(); ++i) {
      const auto r = static_cast<std::uint64_t>(primes_[i]);
      if (!passes(k.sigma, r + 1, r)) return;
      Prefix child{k.k * r, k.sigma * (r + 1), r, i + 1};
      for (std::uint64_t sigmaPower = r + 1;;) {
        visit(child);
        const Uint128 nextSigma = static_cast<Uint128>(sigmaPower) * r + 1;
        if (!passes(k.sigma, nextSigma, r)) break;
        sigmaPower = static_cast<std::uint64_t>(nextSigma);
        child.k *= r;
        child.sigma = k.sigma * sigmaPower;
      }
    }
    SIGMA_ASSERT(false && "the table ends before the walk");
  }

  // Calls visit(d) for every descendant d of `k`, depth first.
  template <class Visit>
  void forEachBelow(const Prefix& k, const Visit& visit) const {
    forEachChild(k, [&](const Prefix& child) {
      visit(child);
      forEachBelow(child, visit);
    });
  }

 private:
  // Whether k r^f, with sigma(k) = sigma and sigma(r^f) = sigmaPower, passes.
  bool passes(std::uint64_t sigma, Uint128 sigmaPower, std::uint64_t r) const {
    if (sigmaPower > last_) return false;  // keeps the products below 2^127
    const Uint128 childSigma = sigma * sigmaPower;
    return childSigma <= sigmaLimit_ && childSigma * (r + 2) <= last_;
  }

  std::span<const common::Int64> primes_;
  std::uint64_t last_;
  std::uint64_t sigmaLimit_;
};

}  // namespace arith
