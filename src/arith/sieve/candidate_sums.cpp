#include "arith/sieve/candidate_sums.hpp"

#include <algorithm>

#include "arith/blocks/sum_buffer.hpp"
#include "arith/primes/wide.hpp"
#include "arith/sieve/sigma_sieve.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

// Sieves the candidates of [a, b) that `range` keeps, and files their sums.
void sieveChunk(SigmaSieve& sieve, const CandidateRange& range, std::uint64_t a, std::uint64_t b,
                const SumSource::Filing& file) {
  auto run = [&](std::uint64_t lo, std::uint64_t residue, std::uint64_t step) {
    if (lo >= b) return;
    sieve.start(lo, b, residue, step);
    for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) file(sums, false);
  };
  if (a >= range.highestStart()) {
    run(a, 0, 1);
    return;
  }
  for (std::uint64_t r = 0; r < 6; ++r) run(std::max(a, range.lowest[r]), r, 6);
}

// The sums up to `last` of every m = 2^i 3^j w below `end`, for the w prime
// to 6 of one segment of a class, from w0 on. sigma is multiplicative:
// sigma(m) = sigma(2^i) sigma(3^j) sigma(w), with sigma(2^(i+1)) =
// 2 sigma(2^i) + 1 and sigma(3^(j+1)) = 3 sigma(3^j) + 1. For each (i, j) the
// w of the segment are those with m < end and, as sigma(w) >= w, at most
// last / (sigma(2^i) sigma(3^j)); both bounds fall as i and j grow, so each
// loop stops at the first empty run. Within a run, a sum past `last` is
// overwritten by the next one, without a branch.
void addMultiples(std::uint64_t w0, std::span<const std::uint64_t> sigmas, std::uint64_t end,
                  std::uint64_t last, SumBuffer& out) {
  for (std::uint64_t p3 = 1, c3 = 1;; p3 *= 3, c3 = 3 * c3 + 1) {
    std::uint64_t p = p3;
    std::uint64_t c = c3;
    for (;; p *= 2, c = 2 * c + c3) {
      const std::uint64_t top = std::min((end - 1) / p, last / c);  // the largest w
      if (top < w0) break;
      const std::size_t run = std::min<std::uint64_t>(sigmas.size(), (top - w0) / 6 + 1);
      std::uint64_t* sums = out.room(run);
      std::size_t kept = 0;
      for (std::size_t k = 0; k < run; ++k) {
        const std::uint64_t t = c * sigmas[k];
        sums[kept] = t;
        kept += t <= last ? 1 : 0;
      }
      out.keep(kept);
    }
    if (p == p3) return;  // not even the first power of 2: none further
  }
}

// Files the sums of every m = 2^i 3^j w below range.end with w in [a, b) prime to 6.
void sieveCofactors(SigmaSieve& sieve, const CandidateRange& range, std::uint64_t last, std::uint64_t a,
                    std::uint64_t b, const SumSource::Filing& file) {
  SumBuffer out(file, SigmaSieve::kSegment * 2);
  for (const std::uint64_t r : {std::uint64_t{1}, std::uint64_t{5}}) {
    sieve.start(a, b, r, 6);
    for (std::uint64_t w = sieve.nextNumber();; w = sieve.nextNumber()) {
      const auto sums = sieve.next();
      if (sums.empty()) break;
      addMultiples(w, sums, range.end, last, out);
    }
  }
  out.flush();
}

}  // namespace

void CandidateSums::prepare(std::uint64_t first, std::uint64_t last, unsigned /*threads*/) {
  range_ = candidatesFor(first, last);
  last_ = last;
  table_.extendPast(static_cast<common::Int64>(isqrt(range_.end - 1)));
  nextChunk_ = firstChunk();
}

// A block whose candidates start low has nearly every number for a
// candidate: its sums come from the numbers prime to 6 alone, a third as many
// to sieve (addMultiples), from 1 on. Higher up, the candidates are a short
// range, and every class is sieved within its own bounds.
std::uint64_t CandidateSums::firstChunk() const { return range_.startsLow() ? 1 : range_.lowestOfAll(); }

void CandidateSums::produce(unsigned thread, const Filing& file, const ProgressSink& done) {
  const std::uint64_t lo = firstChunk();
  const std::uint64_t hi = range_.end;
  SigmaSieve sieve(table_.primes());
  for (std::uint64_t a = nextChunk_.fetch_add(kChunk); a < hi; a = nextChunk_.fetch_add(kChunk)) {
    const std::uint64_t b = hi - a > kChunk ? a + kChunk : hi;
    if (range_.startsLow()) {
      sieveCofactors(sieve, range_, last_, a, b, file);
    } else {
      sieveChunk(sieve, range_, a, b, file);
    }
    if (thread == 0 && done) done(static_cast<double>(b - lo) / static_cast<double>(hi - lo) * 0.95);
  }
}

}  // namespace arith
