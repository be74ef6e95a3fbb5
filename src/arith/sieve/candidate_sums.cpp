#include "arith/sieve/candidate_sums.hpp"

#include <algorithm>

#include "arith/sieve/sigma_sieve.hpp"
#include "arith/wide.hpp"
#include "common/check.hpp"

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

// Sums gathered before they are filed.
class SumBuffer {
 public:
  explicit SumBuffer(const SumSource::Filing& file) : file_(file) { sums_.reserve(kSize); }
  ~SumBuffer() { flush(); }
  SumBuffer(const SumBuffer&) = delete;
  SumBuffer& operator=(const SumBuffer&) = delete;
  void add(std::uint64_t sum) {
    sums_.push_back(sum);
    if (sums_.size() == kSize) flush();
  }
  void flush() {
    if (!sums_.empty()) file_(sums_);
    sums_.clear();
  }

 private:
  static constexpr std::size_t kSize = std::size_t{1} << 14;
  const SumSource::Filing& file_;
  std::vector<std::uint64_t> sums_;
};

// The sums up to `last` of every m = 2^i 3^j w below `end`, for one w prime
// to 6 with sigma(w) = s. sigma is multiplicative and sigma(2^(i+1)) =
// 2 sigma(2^i) + 1, sigma(3^(j+1)) = 3 sigma(3^j) + 1; the sums grow with i
// and j, so each loop stops at the first one past `last`.
void addMultiples(std::uint64_t w, std::uint64_t s, std::uint64_t end, std::uint64_t last, SumBuffer& out) {
  for (std::uint64_t m3 = w, t3 = s; t3 <= last;) {
    for (std::uint64_t m = m3, t = t3; t <= last;) {
      out.add(t);
      if (m >= end - m) break;  // 2m >= end
      m *= 2;
      t = 2 * t + t3;
    }
    if (m3 >= (end + 2) / 3) break;  // 3 m3 >= end
    m3 *= 3;
    t3 = 3 * t3 + s;
  }
}

// Files the sums of every m = 2^i 3^j w below range.end with w in [a, b) prime to 6.
void sieveCofactors(SigmaSieve& sieve, const CandidateRange& range, std::uint64_t last, std::uint64_t a,
                    std::uint64_t b, const SumSource::Filing& file) {
  SumBuffer out(file);
  for (const std::uint64_t r : {std::uint64_t{1}, std::uint64_t{5}}) {
    sieve.start(a, b, r, 6);
    std::uint64_t w = a > r ? r + (a - r + 5) / 6 * 6 : r;  // the first w of the class
    for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
      for (const std::uint64_t s : sums) {
        SIGMA_ASSERT(w < b);
        addMultiples(w, s, range.end, last, out);
        w += 6;
      }
    }
  }
}

}  // namespace

void CandidateSums::prepare(std::uint64_t first, std::uint64_t last, unsigned /*threads*/) {
  range_ = candidatesFor(first, last);
  last_ = last;
  // A block whose candidates start low has nearly every number for a
  // candidate: its sums come from the numbers prime to 6 alone, a third as
  // many to sieve (addMultiples). Higher up, the candidates are a short
  // range, and every class is sieved within its own bounds.
  fromCofactors_ = range_.startsLow();
  table_.extendPast(static_cast<common::Int64>(isqrt(range_.end - 1)));
  nextChunk_ = fromCofactors_ ? 1 : range_.lowestOfAll();
}

void CandidateSums::produce(unsigned thread, const Filing& file, const ProgressSink& done) {
  const std::uint64_t lo = fromCofactors_ ? 1 : range_.lowestOfAll();
  const std::uint64_t hi = range_.end;
  SigmaSieve sieve(table_.Nprem);
  for (std::uint64_t a = nextChunk_.fetch_add(kChunk); a < hi; a = nextChunk_.fetch_add(kChunk)) {
    const std::uint64_t b = hi - a > kChunk ? a + kChunk : hi;
    if (fromCofactors_) {
      sieveCofactors(sieve, range_, last_, a, b, file);
    } else {
      sieveChunk(sieve, range_, a, b, file);
    }
    if (thread == 0 && done) done(static_cast<double>(b - lo) / static_cast<double>(hi - lo) * 0.95);
  }
}

}  // namespace arith
