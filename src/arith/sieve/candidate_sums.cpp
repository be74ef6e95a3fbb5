#include "arith/sieve/candidate_sums.hpp"

#include <algorithm>

#include "arith/sieve/sigma_sieve.hpp"
#include "arith/wide.hpp"

namespace arith {

namespace {

// Sieves the candidates of [a, b) that `range` keeps, and files their sums.
void sieveChunk(SigmaSieve& sieve, const CandidateRange& range, std::uint64_t a, std::uint64_t b,
                const SumSource::Filing& file) {
  auto run = [&](std::uint64_t lo, std::uint64_t residue, std::uint64_t step) {
    if (lo >= b) return;
    sieve.start(lo, b, residue, step);
    for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) file(sums);
  };
  if (a >= range.highestStart()) {
    run(a, 0, 1);
    return;
  }
  for (std::uint64_t r = 0; r < 6; ++r) run(std::max(a, range.lowest[r]), r, 6);
}

}  // namespace

void CandidateSums::prepare(std::uint64_t first, std::uint64_t last, unsigned /*threads*/) {
  range_ = candidatesFor(first, last);
  table_.extendPast(static_cast<common::Int64>(isqrt(range_.end - 1)));
  nextChunk_ = range_.lowestOfAll();
}

void CandidateSums::produce(unsigned thread, const Filing& file, const ProgressSink& done) {
  const std::uint64_t lo = range_.lowestOfAll();
  const std::uint64_t hi = range_.end;
  SigmaSieve sieve(table_.Nprem);
  for (std::uint64_t a = nextChunk_.fetch_add(kChunk); a < hi; a = nextChunk_.fetch_add(kChunk)) {
    const std::uint64_t b = hi - a > kChunk ? a + kChunk : hi;
    sieveChunk(sieve, range_, a, b, file);
    if (thread == 0 && done) done(static_cast<double>(b - lo) / static_cast<double>(hi - lo) * 0.95);
  }
}

}  // namespace arith
