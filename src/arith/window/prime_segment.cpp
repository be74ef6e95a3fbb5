#include "arith/window/prime_segment.hpp"

#include <algorithm>
#include <array>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace arith {

namespace {

// The residues prime to 30, a byte's eight bits, and the gaps from each to the next.
constexpr std::array<std::uint64_t, 8> kResidues{1, 7, 11, 13, 17, 19, 23, 29};
constexpr std::array<std::uint64_t, 8> kGaps{6, 4, 2, 4, 2, 4, 6, 2};
// x % 30 -> its place among the residues, 8 when x is not prime to 30.
constexpr std::array<std::uint8_t, 30> kPlaces = [] {
  std::array<std::uint8_t, 30> places{};
  places.fill(8);
  for (std::uint8_t k = 0; k < 8; ++k) places[kResidues[k]] = k;
  return places;
}();
// x % 30 -> what takes x to the next number prime to 30.
constexpr std::array<std::uint8_t, 30> kToResidue = [] {
  std::array<std::uint8_t, 30> to{};
  for (std::uint64_t x = 0; x < 30; ++x) {
    std::uint8_t d = 0;
    while (kPlaces[(x + d) % 30] == 8) ++d;
    to[x] = d;
  }
  return to;
}();
// A byte's bits spread to the odd numbers 30 j + 1, 30 j + 3, ..., 30 j + 29.
constexpr std::array<std::uint16_t, 256> kSpread = [] {
  std::array<std::uint16_t, 256> spread{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    for (unsigned k = 0; k < 8; ++k) {
      if ((byte >> k & 1) != 0) spread[byte] |= static_cast<std::uint16_t>(1U << (kResidues[k] / 2));
    }
  }
  return spread;
}();

// For p and q at residue places rp and w: the byte's bits less that of p q.
constexpr std::array<std::array<std::uint8_t, 8>, 8> kKeep = [] {
  std::array<std::array<std::uint8_t, 8>, 8> keep{};
  for (unsigned rp = 0; rp < 8; ++rp) {
    for (unsigned w = 0; w < 8; ++w)
      keep[rp][w] = static_cast<std::uint8_t>(~(1U << kPlaces[kResidues[rp] * kResidues[w] % 30]));
  }
  return keep;
}();
// p = 30 a + r: from q to the next q prime to 30 (gap g), p q moves a g bytes
// and a carry of at most g, the thirties that r g crosses.
constexpr std::array<std::array<std::uint8_t, 8>, 8> kCarries = [] {
  std::array<std::array<std::uint8_t, 8>, 8> carries{};
  for (unsigned rp = 0; rp < 8; ++rp) {
    for (unsigned w = 0; w < 8; ++w)
      carries[rp][w] =
          static_cast<std::uint8_t>((kResidues[rp] * kResidues[w] % 30 + kResidues[rp] * kGaps[w]) / 30);
  }
  return carries;
}();

// The least q >= p prime to 30 with p q >= from: p's first multiple to cross
// (a smaller q has a smaller prime factor, whose own multiples hold p q).
std::uint64_t firstFactor(std::uint64_t p, std::uint64_t from) {
  const std::uint64_t q = std::max(p, (from + p - 1) / p);
  return q + kToResidue[q % 30];
}

}  // namespace

PrimeSegment::Pattern::Pattern(std::initializer_list<std::uint64_t> list) : primes(list) {
  for (const std::uint64_t p : primes) period *= p;
  bytes.assign(period, 0);
  for (std::uint64_t j = 0; j < period; ++j) {
    for (unsigned k = 0; k < 8; ++k) {
      const std::uint64_t n = 30 * j + kResidues[k];
      if (std::ranges::none_of(primes, [n](std::uint64_t p) { return n % p == 0; }))
        bytes[j] |= static_cast<std::uint8_t>(1U << k);
    }
  }
}

PrimeSegment::Multiple PrimeSegment::firstMultiple(std::uint64_t p, std::uint64_t from, std::uint64_t base) {
  const std::uint64_t q = firstFactor(p, from);
  const std::uint64_t byte = (p * q - base) / 30;
  SIGMA_ASSERT(byte <= UINT32_MAX);
  return {static_cast<std::uint32_t>(byte), kPlaces[q % 30]};
}

void PrimeSegment::sieve(std::span<const common::Int64> primes, std::uint64_t a, std::uint64_t b) {
  SIGMA_ASSERT(a <= b && b - a < kSpan);
  hasTwo_ = a <= 2 && 2 <= b;
  rowFirst_ = first_ = a;
  firstOdd_ = a | 1;
  last_ = b;
  base_ = a / 30 * 30;
  shared_ = 0xff;
  next_.clear();
  for (std::vector<Hit>& bucket : buckets_) bucket.clear();
  segment_ = 0;
  largeNext_ = 0;
  sieveBytes(primes, 0);
}

void PrimeSegment::sieveNext(std::span<const common::Int64> primes, std::uint64_t b) {
  SIGMA_ASSERT(last_ - first_ + 1 == kSpan && b > last_ && b - last_ <= kSpan);
  if (segment_ + 1 == kBuckets) {  // a row longer than the buckets starts again
    sieve(primes, last_ + 1, b);
    return;
  }
  // The byte of the numbers on both sides of the boundary: its crossings
  // for the numbers past it, by the primes that carry over, are done.
  const std::uint64_t base = (last_ + 1) / 30 * 30;
  shared_ = base <= last_ ? bytes_.back() : 0xff;
  const std::uint64_t shift = (base - base_) / 30;
  SIGMA_ASSERT(shift <= bytes_.size());
  for (Multiple& next : next_) next.byte -= static_cast<std::uint32_t>(shift);
  ++segment_;
  hasTwo_ = false;
  first_ = last_ + 1;
  firstOdd_ = first_ | 1;
  last_ = b;
  base_ = base;
  sieveBytes(primes, next_.size());
}

void PrimeSegment::sieveBytes(std::span<const common::Int64> primes, std::size_t known) {
  if (firstOdd_ > last_) {  // one even number: nothing to sieve (and, in a row, no segment follows)
    bits_.clear();
    return;
  }
  const std::uint64_t root = isqrt(last_);
  SIGMA_ASSERT(static_cast<std::uint64_t>(primes.back()) > root);
  startBytes();
  bytes_[0] &= shared_;
  crossMultiples(primes, root, known);
  crossLarge(primes, root);
  spreadBits();
}

void PrimeSegment::startBytes() {
  bytes_.resize((last_ - base_) / 30 + 1);
  const std::size_t size = bytes_.size();
  bool first = true;
  for (const Pattern& pattern : patterns_) {
    // Run by run of the pattern, each a loop that the compiler vectorizes.
    std::uint64_t q = base_ / 30 % pattern.period;
    for (std::size_t j = 0; j < size;) {
      const std::size_t run = std::min<std::size_t>(size - j, pattern.period - q);
      const std::uint8_t* from = pattern.bytes.data() + q;
      std::uint8_t* to = bytes_.data() + j;
      if (first) {
        std::copy(from, from + run, to);
      } else {
        for (std::size_t k = 0; k < run; ++k) to[k] &= from[k];
      }
      j += run;
      q = 0;
    }
    first = false;
  }
}

void PrimeSegment::crossMultiples(std::span<const common::Int64> primes, std::uint64_t root,
                                  std::size_t known) {
  std::size_t first = 3;  // from 7; the patterns' primes are crossed already
  while (first < primes.size() && static_cast<std::uint64_t>(primes[first]) <= patterns_.back().primes.back())
    ++first;
  std::size_t small = first;  // [first, small): crossed a piece at a time
  std::size_t end = first;    // [small, end): crossed over the whole segment
  for (; end < primes.size(); ++end) {
    const auto p = static_cast<std::uint64_t>(primes[end]);
    if (p > root || p > kLargePrime) break;
    if (p <= kSmallPrime) small = end + 1;
  }
  if (next_.size() < end) next_.resize(end);
  for (std::size_t i = std::max(first, known); i < end; ++i)
    next_[i] = firstMultiple(static_cast<std::uint64_t>(primes[i]), first_, base_);
  const std::uint64_t size = bytes_.size();
  for (std::uint64_t to = std::min(size, kPieceBytes);; to = std::min(size, to + kPieceBytes)) {
    for (std::size_t i = first; i < small; ++i)
      crossTurns(static_cast<std::uint64_t>(primes[i]), next_[i], to);
    if (to == size) break;
  }
  // A turn of the wheel moves p q by p bytes: the primes whose turn fits the
  // segment cross a turn at a time there too, their eight stores in flight at
  // once (segments near 2^40 and 2^43 sieved in 0.93 x the time a number of
  // these primes crossing one multiple at a time).
  for (std::size_t i = small; i < end; ++i) {
    const auto p = static_cast<std::uint64_t>(primes[i]);
    if (p <= size) {
      crossTurns(p, next_[i], size);
    } else {
      crossTo(p, next_[i], size);
    }
  }
}

void PrimeSegment::crossTo(std::uint64_t p, Multiple& next, std::uint64_t to) {
  std::uint64_t i = next.byte;
  unsigned w = next.wheel;
  if (i >= to) return;
  const std::uint64_t a = p / 30;
  const unsigned rp = kPlaces[p % 30];
  SIGMA_ASSERT(rp < 8);
  std::uint8_t* const bytes = bytes_.data();
  for (; i < to; w = (w + 1) % 8) {
    bytes[i] &= kKeep[rp][w];
    i += a * kGaps[w] + kCarries[rp][w];
  }
  SIGMA_ASSERT(i <= UINT32_MAX);
  next = {static_cast<std::uint32_t>(i), w};
}

void PrimeSegment::crossTurns(std::uint64_t p, Multiple& next, std::uint64_t to) {
  std::uint64_t i = next.byte;
  const unsigned w = next.wheel;
  if (i >= to) return;
  const std::uint64_t a = p / 30;
  const unsigned rp = kPlaces[p % 30];
  SIGMA_ASSERT(rp < 8);
  // A turn of the wheel (q up by 30) moves p q by p bytes: its eight
  // crossings from i fall at fixed places, kept in registers.
  std::array<std::uint64_t, 8> at{};
  std::array<std::uint8_t, 8> keep{};
  for (unsigned k = 0, sum = 0; k < 8; ++k) {
    const unsigned place = (w + k) % 8;
    at[k] = sum;
    keep[k] = kKeep[rp][place];
    sum += static_cast<unsigned>(a * kGaps[place] + kCarries[rp][place]);
  }
  std::uint8_t* const bytes = bytes_.data();
  for (; i + at[7] < to; i += p) {
    std::uint8_t* const q = bytes + i;
    q[at[0]] &= keep[0];
    q[at[1]] &= keep[1];
    q[at[2]] &= keep[2];
    q[at[3]] &= keep[3];
    q[at[4]] &= keep[4];
    q[at[5]] &= keep[5];
    q[at[6]] &= keep[6];
    q[at[7]] &= keep[7];
  }
  SIGMA_ASSERT(i <= UINT32_MAX);
  next.byte = static_cast<std::uint32_t>(i);
  crossTo(p, next, to);
}

void PrimeSegment::crossLarge(std::span<const common::Int64> primes, std::uint64_t root) {
  SIGMA_ASSERT(root < (std::uint64_t{1} << 26));
  if (largeNext_ == 0)
    largeNext_ = static_cast<std::size_t>(
        std::ranges::upper_bound(primes, static_cast<common::Int64>(kLargePrime)) - primes.begin());
  for (; largeNext_ < primes.size() && static_cast<std::uint64_t>(primes[largeNext_]) <= root; ++largeNext_) {
    // As for the smaller primes: the least q >= p prime to 30 with p q in
    // the segment (a row ends long before the buckets lose a multiple: a
    // farther one is never met).
    const auto p = static_cast<std::uint64_t>(primes[largeNext_]);
    const std::uint64_t q = firstFactor(p, first_);
    schedule(p * q - rowFirst_, static_cast<std::uint32_t>(p * 8 + kPlaces[q % 30]));
  }
  // Indexed, not iterated: a multiple may come back to this segment's bucket.
  std::vector<Hit>& now = buckets_[segment_];
  const std::uint64_t from = base_ - rowFirst_;  // may wrap: offsets are read modulo 2^64
  for (std::size_t h = 0; h < now.size(); ++h) {
    const Hit hit = now[h];
    const std::uint64_t n = hit.offset - from;  // the multiple past base_
    // A row's last segment may end early: no segment follows it.
    if (n <= last_ - base_) bytes_[n / 30] &= static_cast<std::uint8_t>(~(1U << kPlaces[n % 30]));
    const std::uint64_t p = hit.pWheel / 8;
    const unsigned w = hit.pWheel % 8;
    schedule(hit.offset + p * kGaps[w], static_cast<std::uint32_t>(p * 8 + (w + 1) % 8));
  }
  now.clear();
}

void PrimeSegment::spreadBits() {
  const std::uint64_t odds = (last_ - firstOdd_) / 2 + 1;
  bits_.assign((odds + 63) / 64, 0);
  // The odd number base_ + 2 t + 1 is bit t - drop of the stream of spread
  // bytes, written four bytes (60 bits) at a time.
  const std::uint64_t drop = (firstOdd_ - base_) / 2;
  std::uint64_t word = kSpread[bytes_[0]] >> drop;
  std::uint64_t have = 15 - drop;
  std::size_t out = 0;
  const auto add = [&](std::uint64_t spread, std::uint64_t width) {
    word |= spread << have;
    have += width;
    if (have >= 64) {
      bits_[out++] = word;
      have -= 64;
      word = spread >> (width - have);  // the bits that passed the word
    }
  };
  const std::size_t size = bytes_.size();
  std::size_t j = 1;
  for (; j + 4 <= size && out + 2 < bits_.size(); j += 4) {
    add(kSpread[bytes_[j]] | std::uint64_t{kSpread[bytes_[j + 1]]} << 15 |
            std::uint64_t{kSpread[bytes_[j + 2]]} << 30 | std::uint64_t{kSpread[bytes_[j + 3]]} << 45,
        60);
  }
  for (; j < size && out < bits_.size(); ++j) add(kSpread[bytes_[j]], 15);
  if (out < bits_.size()) bits_[out] = word;
  if (odds % 64 != 0) bits_.back() &= (std::uint64_t{1} << (odds % 64)) - 1;
  const auto mark = [&](std::uint64_t p, bool prime) {
    if (p < firstOdd_ || p > last_) return;
    const std::uint64_t bit = (p - firstOdd_) / 2;
    if (prime) {
      bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    } else {
      bits_[bit / 64] &= ~(std::uint64_t{1} << (bit % 64));
    }
  };
  mark(1, false);
  mark(3, true);
  mark(5, true);
  for (const Pattern& pattern : patterns_) {
    for (const std::uint64_t p : pattern.primes) mark(p, true);
  }
}

}  // namespace arith
