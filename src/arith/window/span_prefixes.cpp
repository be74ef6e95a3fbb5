#include "arith/window/span_prefixes.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

#include "common/check.hpp"

namespace arith {

void SpanPrefixes::begin(std::uint64_t first, std::uint64_t last, std::uint64_t floor, unsigned threads,
                         std::uint64_t entries, std::uint64_t looseMost) {
  SIGMA_ASSERT(1 <= first && first <= last && floor >= 2 && threads >= 1);
  first_ = first;
  last_ = last;
  floor_ = floor;
  loosePerThread_ = looseMost / threads;
  tally_.reset(threads, entries);
  tallied_.assign(threads, 0);
  kept_.assign(threads, 0);
  frozen_.assign(threads, {});
  frozenReady_ = false;
  loose_.resize(threads);
  for (std::vector<Loose>& list : loose_) {
    list.clear();
    // Address space only: pages are touched as the list fills.
    list.reserve(loosePerThread_);
  }
  nextClaim_ = 0;
  failed_ = false;
  finished_ = 0;
}

void SpanPrefixes::build(unsigned thread, std::span<const common::Int64> primes,
                         const std::function<void(std::uint64_t)>& claimed) {
  SIGMA_ASSERT(thread < loose_.size());
  const PrefixWalk walk(primes, last_);
  // Told after each claim and every 2^16 prefixes, since one claim may hold
  // billions: a stop is seen within moments.
  std::uint64_t visits = 0;
  const auto tell = [&] {
    claimed(nextClaim_.load(std::memory_order_relaxed));
    if (failed_.load(std::memory_order_relaxed)) throw Full{};
  };
  const auto visit = [&](const Prefix& k) {
    if ((++visits & 0xffff) == 0) tell();
    note(thread, k.sigma, k.largest, 1);
  };
  std::vector<Leaves> leaves;
  const auto sweep = [&] {
    sweepLeaves(thread, walk, leaves, visits, tell);
    leaves.clear();
  };
  const auto gather = [&](const Prefix& k, std::size_t from, std::size_t to) {
    if (leaves.size() == kLeavesHeld) sweep();
    SIGMA_ASSERT(to <= std::numeric_limits<std::uint32_t>::max());
    leaves.push_back({k.sigma, static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to)});
  };
  try {
    forEachSharedBelow(
        walk, nextClaim_, visit, [&](const Prefix& k) { walk.forEachBranch(k, visit, gather); },
        [&](std::uint64_t) { tell(); });
    sweep();
  } catch (const Full&) {
    failed_ = true;
    return;
  }
  std::ranges::sort(loose_[thread], {}, [](const Loose& k) { return k.sigma * (k.largest + 2); });
  ++finished_;
}

void SpanPrefixes::note(unsigned thread, std::uint64_t sigma, std::uint64_t largest, std::uint64_t prefixes) {
  if (sigma < floor_) return;
  // sigma (P + 1) <= sigma (P + 2) <= last_: no overflow.
  if (sigma * (largest + 1) < first_) {
    for (; prefixes > 0;) {
      const std::uint64_t part = std::min(prefixes, SigmaTally::kMostWeight);
      if (!tally_.add(thread, sigma, part)) break;
      tallied_[thread] += part;
      prefixes -= part;
    }
  }
  std::vector<Loose>& loose = loose_[thread];
  if (prefixes > loosePerThread_ - loose.size()) throw Full{};
  loose.insert(loose.end(), prefixes, Loose{sigma, largest});
}

// The prefixes k r of one sigma(k) = s share everything but where their
// primes r start: sorted by s and start, each prime r of the run from the
// first start on is the largest prime of as many prefixes s (r + 1) as the
// runs that have started by then.
void SpanPrefixes::sweepLeaves(unsigned thread, const PrefixWalk& walk, std::vector<Leaves>& leaves,
                               std::uint64_t& visits, const std::function<void()>& tell) {
  std::ranges::sort(leaves, {}, [](const Leaves& x) { return std::pair{x.sigma, x.from}; });
  for (std::size_t g = 0; g < leaves.size();) {
    const std::uint64_t sigma = leaves[g].sigma;
    const std::uint32_t to = leaves[g].to;  // where k r fails: the same for every k of this sigma
    std::size_t started = g;
    for (std::uint32_t i = leaves[g].from; i < to; ++i) {
      for (; started < leaves.size() && leaves[started].sigma == sigma && leaves[started].from == i;
           ++started)
        SIGMA_ASSERT(leaves[started].to == to);
      if ((++visits & 0xffff) == 0) tell();
      const std::uint64_t r = walk.prime(i);
      note(thread, sigma * (r + 1), r, started - g);
    }
    // Every run starts before its end, so all of this sigma's have started.
    SIGMA_ASSERT(started == leaves.size() || leaves[started].sigma != sigma);
    g = started;
  }
}

void SpanPrefixes::settle() {
  SIGMA_ASSERT(built());
  if (frozenReady_) return;
  if (std::reduce(kept_.begin(), kept_.end()) == std::reduce(tallied_.begin(), tallied_.end())) {
    frozenReady_ = true;
    tally_.release();
    return;
  }
  kept_.assign(kept_.size(), 0);
  for (std::vector<std::uint64_t>& list : frozen_) list.clear();
  tally_.restartClaims();
}

void SpanPrefixes::release() {
  tally_.release();
  std::vector<std::vector<std::uint64_t>>().swap(frozen_);
  frozenReady_ = false;
  std::vector<std::vector<Loose>>().swap(loose_);
  finished_ = 0;
}

}  // namespace arith
