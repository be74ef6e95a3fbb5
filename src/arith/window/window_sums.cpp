#include "arith/window/window_sums.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

void WindowSums::prepare(std::uint64_t first, std::uint64_t last, unsigned threads) {
  SIGMA_ASSERT(1 <= first && first <= last && last <= kCeiling);
  first_ = first;
  last_ = last;
  // The walk's primes stay below the square root of last, and so do the
  // primes that sieve the pieces.
  table_.extendPast(static_cast<common::Int64>(isqrt(last)));
  long_.clear();
  nextChunk_ = 0;
  nextClaim_ = 0;
  // Those prefixes are few, and every one of them is met here.
  const PrefixWalk walk(table_.primes(), last_, shortSigma(last_ - first_, last_) - 1);
  const Prefix root;
  noteLong(root);
  walk.forEachBelow(root, [&](const Prefix& k) { noteLong(k); });
  mergeShared();
  keepLowPrimes();
  cutUnion();
  const std::uint64_t storeCap = storeBytesFor(last_ - first_ + 1) / sizeof(std::uint64_t);
  stored_ = storeWords_ <= storeCap;
  if (stored_) {
    // Room for the most the block may keep, taken at once: a vector grown
    // block by block would double past what the plan reserved.
    if (storeRoomWords() < storeWords_) {
      store_.reset();
      store_ = std::make_unique<ZeroedPages>(storeCap * sizeof(std::uint64_t));
    }
  }
  noteDense();
  chooseSpan(threads);
  claims_ = claimsOf(spanned_ ? spanWalk() : PrefixWalk(table_.primes(), last_));
}

std::uint64_t WindowSums::spanTallyBytes(std::uint64_t last, unsigned threads) {
  const double distinct = 8.4e6 * std::pow(static_cast<double>(last) / 0x1p40, 0.65);
  return static_cast<std::uint64_t>((2.5 * threads + 2) * distinct) * sizeof(std::uint64_t);
}

// A span is begun where the calculation holds two blocks or more within a
// kSpanShare-th of this one's first value, unless a span ran out of room in it.
void WindowSums::chooseSpan(unsigned threads) {
  const std::uint64_t width = last_ - first_ + 1;
  const std::uint64_t room = gatheredFor(width, valuesPerGathered_);
  if (span_.failed()) spanRefused_ = true;
  building_ = false;
  spanned_ = span_.covers(first_, last_, shortSigma(last_ - first_, last_), threads);
  const std::uint64_t spanLast = spanLastFor(first_, last_, expectedLast_);
  if (!spanned_ && !spanRefused_ && spanTallyBytes_ > 0 && room > 0 && spanLast != 0) {
    gathered_.release();
    table_.extendPast(static_cast<common::Int64>(isqrt(spanLast)));
    const std::uint64_t floor = std::max<std::uint64_t>(2, shortSigma(last_ - first_, spanLast));
    span_.begin(first_, spanLast, floor, threads, std::max(room, spanTallyBytes_ / sizeof(std::uint64_t)),
                looseFor(width));
    spanClaims_ = claimsOf(PrefixWalk(table_.primes(), spanLast));
    spanned_ = building_ = true;
  }
  gathering_ = !spanned_;
  if (spanned_) {
    if (!building_) span_.settle();
  } else {
    span_.release();
    gathered_.reset(threads, room);
  }
}

// The claims of a walk shared by the threads, to tell progress by.
std::uint64_t WindowSums::claimsOf(const PrefixWalk& walk) {
  const Prefix root;
  std::uint64_t claims = 1;
  walk.forEachChild(root, [&](const Prefix& k) {
    ++claims;
    walk.forEachChild(k, [&](const Prefix&) { ++claims; });
  });
  return claims;
}

void WindowSums::prepareShared(unsigned thread, const std::function<void()>& poll, const ProgressSink& done) {
  low_.sieveShared(table_.primes(), poll);
  if (!building_) return;
  std::uint64_t calls = 0;
  span_.build(thread, table_.primes(), [&](std::uint64_t claims) {
    poll();
    if (done && ++calls % 256 == 0)
      done(std::min(1.0, static_cast<double>(claims) / static_cast<double>(spanClaims_)));
  });
}

WindowSums::SumQuotients WindowSums::quotientsFor(std::uint64_t sigma) const {
  // One division: the window is narrower than most sigma, and then the
  // quotients of A - 1 and B differ by at most one.
  const std::uint64_t below = (first_ - 1) / sigma;
  const std::uint64_t rest = (first_ - 1 - below * sigma) + (last_ - first_ + 1);
  return {below + 1, below + (rest < sigma ? 0 : rest / sigma)};
}

std::uint64_t WindowSums::lowestQuotient(const Prefix& k, const SumQuotients& quotients) {
  return std::max(quotients.low, k.largest + 2);
}

// An interval of sigma s holds at most (B - A) / s + 1 numbers, and its primes
// p have s (p + 1) <= B, so one that reaches past the bitmap has s at most
// B / kBitmapLimit: a long one has s below this.
std::uint64_t WindowSums::shortSigma(std::uint64_t width, std::uint64_t last) {
  const std::uint64_t untested = std::min(width / (kLongUntested - 1), last / PrimeTest::kBitmapLimit);
  return std::max(width / (kLong - 1), untested) + 1;
}

bool WindowSums::isLong(const Prefix& k, const SumQuotients& quotients) {
  const std::uint64_t lowest = lowestQuotient(k, quotients);
  if (quotients.high < lowest) return false;
  const std::uint64_t length = quotients.high - lowest + 1;
  return length >= kLong || (length >= kLongUntested && quotients.high - 1 >= PrimeTest::kBitmapLimit);
}

void WindowSums::noteLong(const Prefix& k) {
  const SumQuotients quotients = quotientsFor(k.sigma);
  if (isLong(k, quotients)) long_.push_back({k.sigma, lowestQuotient(k, quotients) - 1, quotients.high - 1});
}

// The calculation's first block starts its low primes at its union's lowest
// number; every block extends them up to its union's top, as far as they may grow.
void WindowSums::keepLowPrimes() {
  if (lowBytes_ == 0 || long_.empty()) return;
  std::uint64_t low = long_.front().low;
  std::uint64_t high = 0;
  for (const Interval& interval : long_) {
    low = std::min(low, interval.low);
    high = std::max(high, interval.high);
  }
  if (!low_.started()) low_.start(low, expectedLast_ / 3, lowBytes_);
  low_.reach(high + 1);
}

// The union of the long intervals, cut into pieces that start on a multiple
// of 128 (a word of the store), and those into chunks.
void WindowSums::cutUnion() {
  static_assert(PrimeSegment::kSpan % 128 == 0, "every segment starts on a word of the store");
  std::vector<Interval> byLow = long_;
  std::ranges::sort(byLow, {}, &Interval::low);
  auto start = [](const Interval& interval) { return interval.low / 128 * 128; };
  chunks_.clear();
  pieces_.clear();
  storeWords_ = 0;
  for (std::size_t i = 0; i < byLow.size();) {
    const std::size_t from = i;
    const std::uint64_t low = start(byLow[i]);
    std::uint64_t high = byLow[i].high;
    for (++i; i < byLow.size() && start(byLow[i]) <= high + 1; ++i) high = std::max(high, byLow[i].high);
    addPieces(low, high, std::span(byLow).subspan(from, i - from));
  }
}

// A stretch [low, high] of the union, cut where the kept low primes begin and
// end: the part they hold is read off them, the others are sieved and stored.
void WindowSums::addPieces(std::uint64_t low, std::uint64_t high, std::span<const Interval> intervals) {
  const std::uint64_t keptFrom = low_.started() ? low_.first() : 0;
  const std::uint64_t keptTo = low_.started() ? low_.top() : 0;
  static_assert(PrimeSegment::kSpan % 128 == 0, "the kept primes begin and end on a word of the store");
  const std::array<std::uint64_t, 4> cuts{low, std::clamp(keptFrom, low, high + 1),
                                          std::clamp(keptTo, low, high + 1), high + 1};
  for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
    if (cuts[c] == cuts[c + 1]) continue;
    const bool kept = c == 1;
    pieces_.push_back({cuts[c], cuts[c + 1] - 1, kept ? (cuts[c] - keptFrom) / 128 : storeWords_, kept});
    cutPiece(pieces_.back(), intervals);
    if (!kept) storeWords_ += (cuts[c + 1] - 1 - cuts[c]) / 128 + 1;
  }
}

const std::uint64_t* WindowSums::piecesBits(const Piece& piece) const {
  return (piece.kept ? low_.words() : store_->words()) + piece.word;
}

// A piece's chunks, cut by their work: the numbers sieved, and each filed
// interval's numbers that the chunk covers, kFiledWork each (its primes'
// sums filed). Low in the union thousands of intervals of large sigma cover
// each number: near 4 x 10^11 a first chunk of kChunk numbers took 6 to 8 s
// of a block's 16, and the other thread waited for it when it ran last.
void WindowSums::cutPiece(const Piece& piece, std::span<const Interval> intervals) {
  constexpr std::uint64_t kChunk = kChunkSegments * PrimeSegment::kSpan;
  constexpr std::uint64_t kStep = std::uint64_t{1} << 15;  // the grain of the cuts, a multiple of 128
  constexpr std::uint64_t kFiledWork = 2;
  static_assert(kChunk % kStep == 0 && kStep % 128 == 0);
  // covered[j]: the filed intervals' numbers in step j; full[j]: how many
  // cover step j whole, as differences.
  const std::uint64_t steps = (piece.high - piece.low) / kStep + 1;
  std::vector<std::uint64_t> covered(steps, 0);
  std::vector<std::int64_t> full(steps + 1, 0);
  for (const Interval& interval : intervals) {
    if (interval.sigma <= denseSigma_) continue;  // counted from the store
    if (interval.high < piece.low || interval.low > piece.high) continue;
    const std::uint64_t lo = std::max(interval.low, piece.low) - piece.low;
    const std::uint64_t hi = std::min(interval.high, piece.high) - piece.low;
    const std::uint64_t j = lo / kStep;
    const std::uint64_t k = hi / kStep;
    if (j == k) {
      covered[j] += hi - lo + 1;
      continue;
    }
    covered[j] += (j + 1) * kStep - lo;
    covered[k] += hi - k * kStep + 1;
    ++full[j + 1];
    --full[k];
  }
  std::int64_t covering = 0;
  std::uint64_t a = piece.low;
  std::uint64_t work = 0;
  for (std::uint64_t j = 0; j < steps; ++j) {
    covering += full[j];
    SIGMA_ASSERT(covering >= 0);
    const std::uint64_t end = j + 1 == steps ? piece.high : piece.low + (j + 1) * kStep - 1;
    const std::uint64_t sieved = piece.kept ? 0 : end - piece.low - j * kStep + 1;
    work += sieved + kFiledWork * (covered[j] + static_cast<std::uint64_t>(covering) * kStep);
    if (end == piece.high || work >= kChunk || end + 1 - a >= kChunk) {
      chunks_.push_back({a, end, piece.word + (a - piece.low) / 128, piece.kept});
      a = end + 1;
      work = 0;
    }
  }
}

// The k that share sigma(k) and whose intervals are the same (all of them,
// unless P(k) + 2 passes A / sigma(k)) give the same sums: one interval for
// them all, its sums filed once with their number as weight. Near 2^40 that
// halves the sums of the long intervals.
void WindowSums::mergeShared() {
  std::ranges::sort(long_, [](const Interval& x, const Interval& y) {
    return std::tie(x.sigma, x.low, x.high) < std::tie(y.sigma, y.low, y.high);
  });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < long_.size(); ++i) {
    if (kept > 0 && long_[kept - 1].sigma == long_[i].sigma && long_[kept - 1].low == long_[i].low &&
        long_[kept - 1].high == long_[i].high) {
      long_[kept - 1].weight += long_[i].weight;
    } else {
      long_[kept++] = long_[i];
    }
  }
  long_.resize(kept);
}

// The long intervals of small sigma, counted from the store once it is
// filled; long_ is sorted by sigma, so they come first. The prime 2 of the
// first block stays with the filing: the store keeps the odd numbers.
void WindowSums::noteDense() {
  dense_.intervals.clear();
  denseEnd_ = 0;
  if (!stored_) return;
  for (; denseEnd_ < long_.size() && long_[denseEnd_].sigma <= denseSigma_; ++denseEnd_) {
    const Interval& interval = long_[denseEnd_];
    // From its first odd number: the piece's bits start at the odd number
    // after a multiple of 128, which may be the interval's low end itself.
    // An interval that crosses from the kept primes to the store is split
    // where they meet (its pieces are cut on even numbers).
    std::uint64_t low = std::max<std::uint64_t>(interval.low, 3) | 1;
    for (auto piece = std::ranges::upper_bound(pieces_, interval.low, {}, &Piece::low) - 1;
         low <= interval.high; ++piece) {
      SIGMA_ASSERT(piece != pieces_.end() && piece->low < low && low <= piece->high);
      const std::uint64_t high = std::min(interval.high, piece->high);
      dense_.intervals.push_back(
          {interval.sigma, low, high, interval.weight, piecesBits(*piece), piece->low + 1});
      low = (high + 1) | 1;
    }
  }
}

void WindowSums::release() {
  dense_.intervals.clear();
  denseEnd_ = 0;
  stored_ = false;
  store_.reset();
  gathered_.release();
  span_.release();
  low_.release();
  spanned_ = building_ = gathering_ = spanRefused_ = false;
  expectedLast_ = spanTallyBytes_ = lowBytes_ = 0;
}

void WindowSums::produce(unsigned thread, const Filing& file, const ProgressSink& done) {
  {
    SumBuffer shared(file, kBuffer, SumBuffer::Kind::Weighted);
    PrimeSegment segment;  // its memory kept from segment to segment
    for (std::size_t i = nextChunk_.fetch_add(1); i < chunks_.size(); i = nextChunk_.fetch_add(1)) {
      chunkSums(chunks_[i], segment, shared);
      if (done && i % 8 == 0) done(0.5 * static_cast<double>(i + 1) / static_cast<double>(chunks_.size()));
    }
    shared.flush();
  }
  SumBuffer out(file, kBuffer);
  if (thread == 0 && first_ == 1) out.add(1);  // sigma(1)
  if (spanned()) {
    spannedSums(thread, out, done);
  } else {
    walkPrefixes(thread, out, done);
  }
  out.flush();
}

// The short intervals gathered by sigma: each one's primes read once, their
// sums weighted by the number of prefixes that share it.
void WindowSums::produceGathered(unsigned thread, const Filing& file) {
  const bool fromSpan = spanned();
  if (!fromSpan && !gathering_) return;
  SumBuffer out(file, kBuffer, SumBuffer::Kind::Weighted);
  const auto read = [&](std::uint64_t sigma, std::uint64_t prefixes) {
    const SumQuotients quotients = quotientsFor(sigma);
    oddPrimeSums(sigma, quotients.low - 1, quotients.high - 1,
                 [&](std::uint64_t sum) { out.add(sum, prefixes); });
  };
  if (!fromSpan) {
    gathered_.forEachClaimed(read);
  } else if (span_.frozen()) {
    span_.forEachFrozen(thread, read);
  } else {
    span_.tally().forEachClaimed([&](std::uint64_t sigma, std::uint64_t prefixes) {
      span_.keep(thread, sigma, prefixes);
      read(sigma, prefixes);
    });
  }
  out.flush();
}

// A chunk a segment at a time: sieved and stored, or read off the kept low primes.
void WindowSums::chunkSums(const Chunk& chunk, PrimeSegment& segment, SumBuffer& out) {
  for (std::uint64_t a = chunk.a;; a += PrimeSegment::kSpan) {
    const std::uint64_t b = chunk.b - a < PrimeSegment::kSpan ? chunk.b : a + (PrimeSegment::kSpan - 1);
    if (chunk.kept) {
      segmentSums(a, b, low_.bits(a, b), out);
    } else {
      if (a == chunk.a) {
        segment.sieve(table_.primes(), a, b);
      } else {
        segment.sieveNext(table_.primes(), b);
      }
      if (stored_) keep(segment, chunk.word + (a - chunk.a) / 128);
      segmentSums(a, b, segment.view(), out);
    }
    if (b == chunk.b) return;
  }
}

// A sieved segment's bits into the store, from word `word` on. Every odd
// number of the union is in one segment, so every bit read later is written.
void WindowSums::keep(const PrimeSegment& segment, std::uint64_t word) {
  const std::span<const std::uint64_t> words = segment.words();
  SIGMA_ASSERT(word + words.size() <= storeWords_ && storeWords_ <= storeRoomWords());
  std::ranges::copy(words, store_->words() + word);
}

// The primes of one segment [a, b] (sieved, or read off the kept ones), for
// every long interval that meets it.
// Such an interval of sigma s lies within [(A - 1) / s, B / s - 1], so meets
// [a, b] only if (A - 1) / (b + 1) <= s <= B / (a + 1): a range of the
// intervals sorted by sigma.
void WindowSums::segmentSums(std::uint64_t a, std::uint64_t b, const OddPrimeBits& primes,
                             SumBuffer& out) const {
  const std::uint64_t least = (first_ - 1) / (b + 1);
  const std::uint64_t most = last_ / (a + 1);
  const auto from = std::ranges::lower_bound(long_, least, {}, &Interval::sigma);
  const auto to = std::ranges::upper_bound(long_, most, {}, &Interval::sigma);
  for (auto it = from; it != to; ++it) {
    const std::uint64_t lo = std::max(a, it->low);
    const std::uint64_t hi = std::min(b, it->high);
    if (lo > hi) continue;
    const std::uint64_t sigma = it->sigma;
    const std::uint64_t weight = it->weight;
    if (static_cast<std::size_t>(it - long_.begin()) < denseEnd_) {  // counted from the store but 2
      if (lo <= 2 && 2 <= hi) out.add(sigma * 3, weight);
      continue;
    }
    primes.forEachPrime(lo, hi, [&](std::uint64_t p) { out.add(sigma * (p + 1), weight); });
  }
}

std::function<void(std::uint64_t)> WindowSums::told(const ProgressSink& done) const {
  // Told now and then: the claims number millions.
  return [&done, claims = claims_](std::uint64_t claim) {
    if (done && claim % 4096 == 0)
      done(0.5 + 0.45 * static_cast<double>(claim) / static_cast<double>(claims));
  };
}

void WindowSums::walkPrefixes(unsigned thread, SumBuffer& out, const ProgressSink& done) {
  const PrefixWalk walk(table_.primes(), last_);
  forEachShared(
      walk, nextClaim_, [&](const Prefix& k) { prefixSums(k, thread, out); }, told(done));
}

// The sums of the m = k p^e, but those of a long interval.
void WindowSums::prefixSums(const Prefix& k, unsigned thread, SumBuffer& out) {
  const SumQuotients quotients = quotientsFor(k.sigma);
  if (!isLong(k, quotients)) shortSums(k, quotients, thread, out);
  primePowerSums(k, quotients, out);
}

// A short interval that starts where its sigma's quotients start is the same
// for every prefix of that sigma: it is gathered, where the block gathers, to
// be read once for them all.
void WindowSums::shortSums(const Prefix& k, const SumQuotients& quotients, unsigned thread, SumBuffer& out) {
  std::uint64_t t = lowestQuotient(k, quotients);
  if (t == 3 && quotients.high >= 3) {  // p = 2, the one even prime (then k = 1)
    out.add(k.sigma * 3);
    ++t;
  }
  if (t <= quotients.high && !(gathering_ && t == quotients.low && gathered_.add(thread, k.sigma)))
    oddPrimeSums(k.sigma, t - 1, quotients.high - 1, [&](std::uint64_t sum) { out.add(sum); });
}

// In a block read off a span, the walk keeps only the prefixes of sigma below
// the span's floor (their intervals, long or short) and those a prime square
// can follow.
PrefixWalk WindowSums::spanWalk() const {
  return {table_.primes(), last_, span_.floor() - 1, PrefixWalk::Beyond::Squares};
}

void WindowSums::spannedSums(unsigned thread, SumBuffer& out, const ProgressSink& done) {
  const std::uint64_t floor = span_.floor();
  const auto visit = [&](const Prefix& k) {
    const SumQuotients quotients = quotientsFor(k.sigma);
    if (k.sigma < floor && !isLong(k, quotients)) shortSums(k, quotients, thread, out);
    primePowerSums(k, quotients, out);
  };
  forEachShared(spanWalk(), nextClaim_, visit, told(done));
  // The span's tally holds the other short intervals whole; the loose
  // prefixes this thread found are read one by one, up to those whose sums
  // start past the block.
  for (const SpanPrefixes::Loose& k : span_.loose(thread)) {
    if (k.sigma * (k.largest + 2) > last_) break;
    const SumQuotients quotients = quotientsFor(k.sigma);
    const std::uint64_t t = std::max(quotients.low, k.largest + 2);
    if (t <= quotients.high)
      oddPrimeSums(k.sigma, t - 1, quotients.high - 1, [&](std::uint64_t sum) { out.add(sum); });
  }
}

// The primes read off the prime bitmap where it reaches (high up, nearly
// every short interval does), else tested one by one.
template <class Add>
void WindowSums::oddPrimeSums(std::uint64_t sigma, std::uint64_t lo, std::uint64_t hi, const Add& add) const {
  if (hi < PrimeTest::kBitmapLimit) {
    isPrime_.forEachOddPrime(lo, hi, [&](std::uint64_t p) { add(sigma * (p + 1)); });
    return;
  }
  for (std::uint64_t p = lo | 1; p <= hi; p += 2) {
    if (isPrime_(p)) add(sigma * (p + 1));
  }
}

namespace {

// sigma(p^e), or anything above `most` once it passes it.
Uint128 sigmaOfPower(std::uint64_t p, unsigned e, std::uint64_t most) {
  Uint128 power = 1;
  Uint128 sigma = 1;
  for (unsigned i = 0; i < e && sigma <= most; ++i) {
    power *= p;
    sigma += power;
  }
  return sigma;
}

// A p at most the least p with sigma(p^e) >= x: as sigma(p^e) <= (p + 1)^e,
// that p is at least x^(1/e) - 1. Squares, nearly every call, take the exact
// integer root (a pow per prefix was 2 % of a block near 2^44); the double
// root of a higher power is lowered by far more than its rounding error.
std::uint64_t rootBelow(std::uint64_t x, unsigned e) {
  if (e == 2) {
    const std::uint64_t root = isqrt(x);
    return root < 2 ? 0 : root - 1;
  }
  const double root = std::pow(static_cast<double>(x), 1.0 / e) * (1 - 1e-9);
  return root < 2 ? 0 : static_cast<std::uint64_t>(root) - 1;
}

}  // namespace

void WindowSums::primePowerSums(const Prefix& k, const SumQuotients& quotients, SumBuffer& out) const {
  // sigma(p^e) in [low, high]. sigma(x^e) grows with x and with e, and p > P(k):
  // once sigma((P(k) + 1)^e) passes high, no p and no higher e can reach it.
  for (unsigned e = 2; sigmaOfPower(k.largest + 1, e, quotients.high) <= quotients.high; ++e) {
    for (std::uint64_t p = std::max(k.largest + 1, rootBelow(quotients.low, e));; ++p) {
      const Uint128 sigma = sigmaOfPower(p, e, quotients.high);
      if (sigma > quotients.high) break;
      if (sigma >= quotients.low && isPrime_(p)) out.add(k.sigma * static_cast<std::uint64_t>(sigma));
    }
  }
}

}  // namespace arith
