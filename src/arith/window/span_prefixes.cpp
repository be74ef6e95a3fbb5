#include "arith/window/span_prefixes.hpp"

#include <algorithm>
#include <numeric>

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
  std::vector<Loose>& loose = loose_[thread];
  std::uint64_t& tallied = tallied_[thread];
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
    if (k.sigma < floor_) return;
    // sigma (P + 1) <= sigma (P + 2) <= last_: no overflow.
    if (k.sigma * (k.largest + 1) < first_ && tally_.add(thread, k.sigma)) {
      ++tallied;
      return;
    }
    if (loose.size() == loosePerThread_) throw Full{};
    loose.push_back({k.sigma, k.largest});
  };
  try {
    forEachShared(walk, nextClaim_, visit, [&](std::uint64_t) { tell(); });
  } catch (const Full&) {
    failed_ = true;
    return;
  }
  std::ranges::sort(loose, {}, [](const Loose& k) { return k.sigma * (k.largest + 2); });
  ++finished_;
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
