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
//
// The walk may also keep, past the sigma limit, the prefixes whose largest
// prime can still be followed by a square: sigma(k) sigma((P(k) + 1)^2) <= last.
// That bound is inherited in the same way, and so is their union.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
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
  enum class Beyond { None, Squares };
  // The prefixes for the sums up to `last`, with sigma(k) <= sigmaLimit, and,
  // with Beyond::Squares, those past it that a prime square can follow.
  // `primes` (2, 3, 5, ...) must hold a prime above the square root of last.
  PrefixWalk(std::span<const common::Int64> primes, std::uint64_t last,
             std::uint64_t sigmaLimit = std::numeric_limits<std::uint64_t>::max(),
             Beyond beyond = Beyond::None)
      : primes_(primes), last_(last), sigmaLimit_(sigmaLimit), squares_(beyond == Beyond::Squares) {
    SIGMA_ASSERT(!primes.empty() && static_cast<std::uint64_t>(primes.back()) > isqrt(last));
  }

  // Calls visit(child) for each child k r^f of `k` that passes the bound.
  template <class Visit>
  void forEachChild(const Prefix& k, const Visit& visit) const {
    for (std::size_t i = k.nextPrime; i < primes_.size(); ++i) {
      const auto r = static_cast<std::uint64_t>(primes_[i]);
      if (!passes(k.sigma, r + 1, r)) return;
      forEachPower(k, i, visit);
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

  // As forEachBelow, but without a visit to each plain leaf: a k r (r prime)
  // with no child and no square k r^2 that passes. Among the children of a
  // prefix, every one past the first plain leaf is plain too (the bounds grow
  // with r) up to the last that passes: leaves(k, from, to) takes them all,
  // k r for the primes r of the table's indices [from, to). High up nearly
  // every prefix is a plain leaf (near 2^40, 98 % of 1.3 * 10^8).
  template <class Visit, class Leaves>
  void forEachBranch(const Prefix& k, const Visit& visit, const Leaves& leaves) const {
    for (std::size_t i = k.nextPrime; i < primes_.size(); ++i) {
      const auto r = static_cast<std::uint64_t>(primes_[i]);
      if (!passes(k.sigma, r + 1, r)) return;
      if (plainLeaf(k.sigma, i)) {
        leaves(k, i, endOfChildren(k.sigma, i));
        return;
      }
      forEachPower(k, i, [&](const Prefix& child) {
        visit(child);
        forEachBranch(child, visit, leaves);
      });
    }
    SIGMA_ASSERT(false && "the table ends before the walk");
  }

  // The prime of the table's index i.
  std::uint64_t prime(std::size_t i) const {
    SIGMA_ASSERT(i < primes_.size());
    return static_cast<std::uint64_t>(primes_[i]);
  }

 private:
  // visit(k r^f) for f = 1, 2, ... while it passes, r the prime of index i
  // (k r passes).
  template <class Visit>
  void forEachPower(const Prefix& k, std::size_t i, const Visit& visit) const {
    const auto r = static_cast<std::uint64_t>(primes_[i]);
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

  // Whether the child k r (which passes, sigma = sigma(k), r the prime of
  // index i) is a plain leaf: k r r' fails for the next prime r', and so
  // does k r^2. Both grow with r: past the first plain leaf, all are.
  bool plainLeaf(std::uint64_t sigma, std::size_t i) const {
    SIGMA_ASSERT(i + 1 < primes_.size());
    const auto r = static_cast<std::uint64_t>(primes_[i]);
    const auto next = static_cast<std::uint64_t>(primes_[i + 1]);
    // sigma (r + 1) <= last_, since k r passes.
    return !passes(sigma * (r + 1), next + 1, next) && !passes(sigma, Uint128{r + 1} * r + 1, r);
  }

  // The index past the last prime r from index `from` on for which k r
  // passes (passing falls off with r, and fails before the table's end).
  std::size_t endOfChildren(std::uint64_t sigma, std::size_t from) const {
    const auto begin = primes_.begin() + static_cast<std::ptrdiff_t>(from);
    const auto end = std::partition_point(begin, primes_.end(), [&](common::Int64 p) {
      const auto r = static_cast<std::uint64_t>(p);
      return passes(sigma, r + 1, r);
    });
    SIGMA_ASSERT(end != primes_.end());
    return from + static_cast<std::size_t>(end - begin);
  }

  // Whether k r^f, with sigma(k) = sigma and sigma(r^f) = sigmaPower, passes.
  bool passes(std::uint64_t sigma, Uint128 sigmaPower, std::uint64_t r) const {
    if (sigmaPower > last_) return false;  // keeps the products below 2^127
    const Uint128 childSigma = sigma * sigmaPower;
    if (childSigma > last_) return false;  // and then below 2^52: the products stay below 2^128
    if (childSigma <= sigmaLimit_ && childSigma * (r + 2) <= last_) return true;
    return squares_ && childSigma * ((Uint128{r} + 1) * (r + 1) + r + 2) <= last_;
  }

  std::span<const common::Int64> primes_;
  std::uint64_t last_;
  std::uint64_t sigmaLimit_;
  bool squares_;
};

// Every prefix of a walk, shared by threads that call forEachShared with the
// same counter: each walks the prefixes of depth one and two in the same
// order, numbering them, and takes the one whose number it drew, with all its
// descendants at depth two. claimed(n) follows the visits of the n-th claim.
//
// below(k) walks what lies under a claimed prefix k of depth two:
// forEachShared's visits everything there.
template <class Visit, class Below, class Claimed>
void forEachSharedBelow(const PrefixWalk& walk, std::atomic<std::uint64_t>& next, const Visit& visit,
                        const Below& below, const Claimed& claimed) {
  std::uint64_t index = 0;
  std::uint64_t mine = next.fetch_add(1);
  auto claim = [&] {
    if (index++ != mine) return false;
    mine = next.fetch_add(1);
    return true;
  };
  const Prefix root;
  if (claim()) {
    visit(root);
    claimed(index);
  }
  walk.forEachChild(root, [&](const Prefix& k1) {
    if (claim()) {
      visit(k1);
      claimed(index);
    }
    walk.forEachChild(k1, [&](const Prefix& k2) {
      if (!claim()) return;
      visit(k2);
      below(k2);
      claimed(index);
    });
  });
}

template <class Visit, class Claimed>
void forEachShared(const PrefixWalk& walk, std::atomic<std::uint64_t>& next, const Visit& visit,
                   const Claimed& claimed) {
  forEachSharedBelow(
      walk, next, visit, [&](const Prefix& k) { walk.forEachBelow(k, visit); }, claimed);
}

}  // namespace arith
