#include "arith/window/prime_segment.hpp"

#include <algorithm>
#include <array>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

PrimeSegment::Pattern::Pattern(std::initializer_list<std::uint64_t> list) : primes(list) {
  for (const std::uint64_t p : primes) period *= p;
  // Long enough that 64 bits can be read from any q below the period.
  bits.assign((period + 64) / 64 + 1, 0);
  for (std::uint64_t q = 0; q < 64 * bits.size(); ++q) {
    const std::uint64_t n = 2 * (q % period) + 1;
    if (std::ranges::none_of(primes, [n](std::uint64_t p) { return n % p == 0; }))
      bits[q / 64] |= std::uint64_t{1} << (q % 64);
  }
}

void PrimeSegment::sieve(std::span<const common::Int64> primes, std::uint64_t a, std::uint64_t b) {
  SIGMA_ASSERT(a <= b && b - a < kSpan);
  hasTwo_ = a <= 2 && 2 <= b;
  first_ = a;
  firstOdd_ = a | 1;
  last_ = b;
  next_.clear();
  for (std::vector<Hit>& bucket : buckets_) bucket.clear();
  segment_ = 0;
  largeNext_ = 0;
  sieveOdds(primes, b, 0);
}

void PrimeSegment::sieveNext(std::span<const common::Int64> primes, std::uint64_t b) {
  // kSpan is even: this segment's first odd number is kSpan past the one
  // before, its bits follow that one's.
  static_assert(kSpan % 2 == 0);
  SIGMA_ASSERT(!bits_.empty() && last_ - first_ + 1 == kSpan && b > last_ && b - last_ <= kSpan);
  if (segment_ + 1 == kBuckets) {  // a row longer than the buckets starts again
    sieve(primes, last_ + 1, b);
    return;
  }
  ++segment_;
  hasTwo_ = false;
  first_ += kSpan;
  firstOdd_ += kSpan;
  last_ = b;
  sieveOdds(primes, b, next_.size() / 2);
}

void PrimeSegment::sieveOdds(std::span<const common::Int64> primes, std::uint64_t b, std::size_t known) {
  if (firstOdd_ > b) {  // one even number: nothing to sieve (and, in a row, no segment follows)
    bits_.clear();
    return;
  }
  startBits(b);
  crossMultiples(primes, b, known);
  crossLarge(primes, b);
}

void PrimeSegment::startBits(std::uint64_t b) {
  const std::uint64_t odds = (b - firstOdd_) / 2 + 1;
  bits_.resize((odds + 63) / 64);
  std::array<std::uint64_t, 4> q{};  // where each pattern stands
  for (std::size_t k = 0; k < patterns_.size(); ++k) q[k] = (firstOdd_ / 2) % patterns_[k].period;
  for (std::uint64_t& word : bits_) {
    word = ~std::uint64_t{0};
    for (std::size_t k = 0; k < patterns_.size(); ++k) {
      word &= patterns_[k].at(q[k]);
      q[k] += 64;
      if (q[k] >= patterns_[k].period) q[k] -= patterns_[k].period;
    }
  }
  if (odds % 64 != 0) bits_.back() &= (std::uint64_t{1} << (odds % 64)) - 1;
  if (firstOdd_ == 1) bits_[0] &= ~std::uint64_t{1};  // 1 is not prime
  markPatternPrimes(b);
}

void PrimeSegment::crossMultiples(std::span<const common::Int64> primes, std::uint64_t b, std::size_t known) {
  const std::uint64_t odds = (b - firstOdd_) / 2 + 1;
  const std::uint64_t root = isqrt(b);
  SIGMA_ASSERT(static_cast<std::uint64_t>(primes.back()) > root);
  std::size_t first = 1;  // the odd primes; those of the patterns are crossed already
  while (first < primes.size() && static_cast<std::uint64_t>(primes[first]) <= patterns_.back().primes.back())
    ++first;
  std::size_t small = first;  // [first, small): crossed a piece at a time
  std::size_t end = first;    // [small, end): crossed over the whole segment
  for (; end < primes.size(); ++end) {
    const auto p = static_cast<std::uint64_t>(primes[end]);
    if (p > root || p > kLargePrime) break;
    if (p <= kSmallPrime) small = end + 1;
  }
  if (next_.size() < 2 * end) next_.resize(2 * end);
  for (std::size_t i = std::max(first, known); i < end; ++i) {
    // The odd multiples p q with q prime to 3 (the others are crossed as
    // multiples of 3): q = 1 and q = 5 modulo 6, each a step of 6 p, 3 p
    // bits. The least q >= p with p q in the segment (not p itself), then
    // the least of each class from it.
    const auto p = static_cast<std::uint64_t>(primes[i]);
    const std::uint64_t q = std::max(p, (firstOdd_ + p - 1) / p);
    next_[2 * i] = static_cast<std::uint32_t>((p * (q + (7 - q % 6) % 6) - firstOdd_) / 2);
    next_[2 * i + 1] = static_cast<std::uint32_t>((p * (q + (11 - q % 6) % 6) - firstOdd_) / 2);
  }
  // Most crossings are the small primes': a piece's bits stay in the L1
  // cache while each of them crosses it (a fifth less time a segment near 2^40).
  for (std::uint64_t to = std::min(odds, kPieceBits);; to = std::min(odds, to + kPieceBits)) {
    for (std::size_t i = first; i < small; ++i)
      crossTo(static_cast<std::uint64_t>(primes[i]), &next_[2 * i], to);
    if (to == odds) break;
  }
  for (std::size_t i = small; i < end; ++i)
    crossTo(static_cast<std::uint64_t>(primes[i]), &next_[2 * i], odds);
  // Counted from the segment's end, the next multiples are where the next segment meets them.
  for (std::size_t i = first; i < end; ++i) {
    next_[2 * i] -= static_cast<std::uint32_t>(odds);
    next_[2 * i + 1] -= static_cast<std::uint32_t>(odds);
  }
}

void PrimeSegment::crossTo(std::uint64_t p, std::uint32_t* next, std::uint64_t to) {
  const std::uint64_t step = 3 * p;
  std::uint64_t one = next[0];
  std::uint64_t five = next[1];
  for (; one < to; one += step) cross(one);
  for (; five < to; five += step) cross(five);
  next[0] = static_cast<std::uint32_t>(one);
  next[1] = static_cast<std::uint32_t>(five);
}

void PrimeSegment::schedule(std::uint64_t bit, std::uint32_t p) {
  const std::uint64_t ahead = bit / kOdds;
  if (ahead < kBuckets)
    buckets_[(segment_ + ahead) % kBuckets].push_back({static_cast<std::uint32_t>(bit % kOdds), p});
}

void PrimeSegment::crossLarge(std::span<const common::Int64> primes, std::uint64_t b) {
  const std::uint64_t odds = (b - firstOdd_) / 2 + 1;
  const std::uint64_t root = isqrt(b);
  SIGMA_ASSERT(root < (std::uint64_t{1} << 26));
  if (largeNext_ == 0)
    largeNext_ = static_cast<std::size_t>(
        std::ranges::upper_bound(primes, static_cast<common::Int64>(kLargePrime)) - primes.begin());
  for (; largeNext_ < primes.size() && static_cast<std::uint64_t>(primes[largeNext_]) <= root; ++largeNext_) {
    // As for the smaller primes: the least q >= p with p q in the segment,
    // then the least of each class from it (a row ends long before the
    // buckets lose a multiple: a farther one is never met).
    const auto p = static_cast<std::uint64_t>(primes[largeNext_]);
    const std::uint64_t q = std::max(p, (firstOdd_ + p - 1) / p);
    schedule((p * (q + (7 - q % 6) % 6) - firstOdd_) / 2, static_cast<std::uint32_t>(p));
    schedule((p * (q + (11 - q % 6) % 6) - firstOdd_) / 2, static_cast<std::uint32_t>(p));
  }
  std::vector<Hit>& now = buckets_[segment_ % kBuckets];
  for (const Hit hit : now) {
    // A row's last segment may end early: no segment follows it.
    if (hit.bit < odds) cross(hit.bit);
    schedule(hit.bit + 3 * std::uint64_t{hit.p}, hit.p);
  }
  now.clear();
}

void PrimeSegment::markPatternPrimes(std::uint64_t b) {
  for (const Pattern& pattern : patterns_) {
    for (const std::uint64_t p : pattern.primes) {
      if (p >= firstOdd_ && p <= b)
        bits_[(p - firstOdd_) / 128] |= std::uint64_t{1} << ((p - firstOdd_) / 2 % 64);
    }
  }
}

}  // namespace arith
