// The walk by largest prime factor: its prefixes against a plain enumeration,
// its prime segments against the primality test (its counts are compared
// with the other methods' in divisor_arithmetic_test).
#include "arith/window/window_sums.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "arith/blocks/block_counter.hpp"
#include "arith/primes/primality.hpp"
#include "arith/primes/prime_table.hpp"
#include "arith/window/low_primes.hpp"
#include "arith/window/prefix_walk.hpp"
#include "arith/window/prime_segment.hpp"
#include "arith/window/sigma_tally.hpp"
#include "arith/window/span_prefixes.hpp"

namespace {

using arith::Prefix;
using common::Count;
using common::Int64;

// (sigma(k), P(k)) for every k the walk should meet: every k whose sum times
// P(k) + 2 stays within `last`, with sigma(k) <= sigmaLimit, by trial division.
std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> plainPrefixes(std::uint64_t last,
                                                                               std::uint64_t sigmaLimit) {
  std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> prefixes;
  for (std::uint64_t k = 1; k <= last; ++k) {
    std::uint64_t sigma = 1;
    std::uint64_t largest = 1;
    std::uint64_t rest = k;
    for (std::uint64_t p = 2; rest > 1; ++p) {
      if (p * p > rest) p = rest;
      std::uint64_t power = 1;
      std::uint64_t sum = 1;
      for (; rest % p == 0; rest /= p) sum += power *= p;
      if (power > 1) largest = p;
      sigma *= sum;
    }
    if (sigma <= sigmaLimit && sigma * (largest + 2) <= last) prefixes[k] = {sigma, largest};
  }
  return prefixes;
}

TEST(PrefixWalk, MeetsEveryPrefixOnceWithItsSumAndLargestPrime) {
  arith::PrimeTable table;
  table.extendPast(1000);
  for (std::uint64_t last : {1u, 2u, 3u, 11u, 12u, 100u, 9999u, 200000u}) {
    for (std::uint64_t limit : {std::uint64_t{50}, std::uint64_t{1} << 40}) {
      std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> walked;
      const arith::PrefixWalk walk(table.primes(), last, limit);
      const Prefix root;
      auto note = [&](const Prefix& k) {
        EXPECT_TRUE(walked.emplace(k.k, std::pair{k.sigma, k.largest}).second) << k.k << " twice";
        EXPECT_EQ(k.nextPrime == 0 ? 0 : table.primes()[k.nextPrime - 1],
                  static_cast<Int64>(k.largest == 1 ? 0 : k.largest));
      };
      if (root.sigma * (root.largest + 2) <= last) note(root);
      walk.forEachBelow(root, note);
      EXPECT_EQ(walked, plainPrefixes(last, limit)) << last << " " << limit;
    }
  }
}

// The walk that hands its plain leaves over as ranges of primes meets, once
// the ranges are spelled out, what the full walk meets, with and without the
// prefixes past the sigma limit that a square may follow.
TEST(PrefixWalk, BranchesAndTheirLeafRangesAreTheWholeWalk) {
  arith::PrimeTable table;
  table.extendPast(1 << 12);
  using Met = std::map<std::uint64_t, std::pair<std::uint64_t, std::size_t>>;
  for (std::uint64_t last : {3u, 12u, 100u, 9999u, 3000000u}) {
    for (std::uint64_t limit : {std::uint64_t{50}, std::uint64_t{1} << 40}) {
      for (const auto beyond : {arith::PrefixWalk::Beyond::None, arith::PrefixWalk::Beyond::Squares}) {
        const arith::PrefixWalk walk(table.primes(), last, limit, beyond);
        Met full;
        walk.forEachBelow(Prefix{}, [&](const Prefix& k) { full[k.k] = {k.sigma, k.nextPrime}; });
        Met branched;
        std::uint64_t ranges = 0;
        auto note = [&](const Prefix& k) {
          EXPECT_TRUE(branched.emplace(k.k, std::pair{k.sigma, k.nextPrime}).second) << k.k << " twice";
        };
        walk.forEachBranch(Prefix{}, note, [&](const Prefix& k, std::size_t from, std::size_t to) {
          ASSERT_LT(from, to);
          ++ranges;
          for (std::size_t i = from; i < to; ++i) {
            const std::uint64_t r = walk.prime(i);
            note({k.k * r, k.sigma * (r + 1), r, i + 1});
          }
        });
        EXPECT_EQ(branched, full) << last << " " << limit;
        if (last == 3000000u && limit > 50) {
          EXPECT_GT(full.size(), 10 * ranges) << limit;
        }
      }
    }
  }
}

std::vector<std::uint64_t> primesOf(const arith::PrimeSegment& segment, std::uint64_t a, std::uint64_t b) {
  std::vector<std::uint64_t> found;
  segment.view().forEachPrime(a, b, [&](std::uint64_t p) { found.push_back(p); });
  return found;
}

TEST(PrimeSegment, FindsThePrimesOfShortIntervalsLowAndHigh) {
  arith::PrimeTable table;
  table.extendPast(Int64{1} << 26);
  const arith::PrimeTest isPrime;
  std::mt19937_64 random(77);
  arith::PrimeSegment segment;
  for (int round = 0; round < 40; ++round) {
    const std::uint64_t a = round < 4 ? static_cast<std::uint64_t>(round)
                                      : 1 + random() % (std::uint64_t{1} << (10 + round % 40));
    const std::uint64_t b = a + random() % (round % 3 == 0 ? 5 : arith::PrimeSegment::kSpan);
    if (a == 0) continue;
    segment.sieve(table.primes(), a, b);
    // The whole segment, and a part of it cut anywhere.
    const std::uint64_t lo = a + random() % (b - a + 1);
    const std::uint64_t hi = lo + random() % (b - lo + 1);
    for (const auto& [from, to] : {std::pair{a, b}, std::pair{lo, hi}}) {
      std::vector<std::uint64_t> tested;
      for (std::uint64_t n = from; n <= to; ++n) {
        if (isPrime(n)) tested.push_back(n);
      }
      EXPECT_EQ(primesOf(segment, from, to), tested)
          << "[" << from << ", " << to << "] of [" << a << ", " << b << "]";
    }
  }
  // A table that ends before the patterns' primes do.
  arith::PrimeTable small;
  small.extendPast(11);
  segment.sieve(small.primes(), 1, 150);
  const std::vector<std::uint64_t> found = primesOf(segment, 1, 150);
  EXPECT_EQ(found.size(), 35u);
  EXPECT_EQ(found.back(), 149u);
}

// Segments sieved in a row carry each prime's next multiple over: every one
// must find the primes a segment sieved afresh finds, from an odd or an even
// start, where the square root passes new primes on the way, and in a last
// segment cut short, down to one number (even: no odd number to sieve).
TEST(PrimeSegment, SegmentsSievedInARowFindWhatEachFindsAlone) {
  arith::PrimeTable table;
  table.extendPast(Int64{1} << 26);
  constexpr std::uint64_t kSpan = arith::PrimeSegment::kSpan;
  arith::PrimeSegment chain;
  arith::PrimeSegment alone;
  // (start, segments): past 2^40 the largest primes wait in buckets, and a
  // row longer than their buckets starts again.
  for (const auto& [start, segments] : {std::pair<std::uint64_t, std::uint64_t>{1, 4},
                                        {2, 4},
                                        {std::uint64_t{1} << 20, 4},
                                        {(std::uint64_t{1} << 36) + 1, 4},
                                        {(std::uint64_t{1} << 44) + 6, 4},
                                        {(std::uint64_t{1} << 46) + 1, 130}}) {
    for (const std::uint64_t lastSegment : {kSpan / 3, std::uint64_t{1}, std::uint64_t{2}}) {
      if (segments > 4 && lastSegment != 2) continue;
      const std::uint64_t end = start + segments * kSpan + lastSegment - 1;
      for (std::uint64_t a = start;; a += kSpan) {
        const std::uint64_t b = end - a < kSpan ? end : a + kSpan - 1;
        if (a == start) {
          chain.sieve(table.primes(), a, b);
        } else {
          chain.sieveNext(table.primes(), b);
        }
        alone.sieve(table.primes(), a, b);
        const std::vector<std::uint64_t> found = primesOf(chain, a, b);
        ASSERT_EQ(found, primesOf(alone, a, b)) << "[" << a << ", " << b << "] from " << start;
        if (b - a > 1000) {
          EXPECT_GT(found.size(), 1000u);
        }
        if (b == end) break;
      }
    }
  }
}

}  // namespace

// The long intervals of small sigma counted straight into the block, and
// the short intervals gathered by sigma, give the counts they give filed one
// by one, wherever the bound between the two falls and whether all, some or
// none of the short ones find room: from 1 (the prime 2 then stays with the
// filing) and higher up, where many k share their sigma, in 4- and 8-bit counts.
TEST(WindowSums, DenseAndGatheredIntervalsCountAsFiledOnes) {
  arith::PrimeTable table;
  arith::BlockCounter counter(2);
  const std::uint64_t high = std::uint64_t{1} << 33;
  const std::uint64_t all = std::uint64_t{1} << 40;
  for (const auto& [first, last] :
       {std::pair<std::uint64_t, std::uint64_t>{1, 3000000}, {high - (std::uint64_t{1} << 22), high}}) {
    for (unsigned bits : {4u, 8u}) {
      std::vector<std::vector<Count>> results;
      // (dense bound, values per gathered sigma): the first files everything.
      for (const auto& [denseSigma, valuesPerGathered] : {std::pair<std::uint64_t, std::uint64_t>{0, 0},
                                                          {30, 1},
                                                          {all, 32},
                                                          {arith::WindowSums::kDenseSigma, 1000}}) {
        arith::WindowSums window(table, denseSigma, valuesPerGathered);
        std::vector<Count> counts;
        counter.count(window, first, last, bits,
                      [&](Int64, std::span<const Count> part) {
                        counts.insert(counts.end(), part.begin(), part.end());
                      },
                      {});
        results.push_back(std::move(counts));
      }
      ASSERT_EQ(results[0].size(), last - first + 1);
      for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_EQ(results[i], results[0]) << first << " " << bits << " " << i;
    }
  }
}

// Each sigma gathered is tallied once with the number of times it was taken,
// over both threads' pages, however many buckets a call claims; a full pool
// refuses, a reset starts the next block empty, and repeated sigma are compacted.
TEST(SigmaTally, TalliesWhatItTookRefusesPastItsRoomAndCompacts) {
  using arith::SigmaTally;
  SigmaTally tally;
  std::mt19937_64 random(11);
  for (const std::uint64_t room : {SigmaTally::kPage * SigmaTally::kBuckets * 4, SigmaTally::kPage * 300}) {
    tally.reset(2, room);
    std::map<std::uint64_t, std::uint64_t> taken;
    std::uint64_t refused = 0;
    for (int i = 0; i < 600000; ++i) {
      const std::uint64_t sigma = 1 + random() % (i % 2 == 0 ? 50000 : std::uint64_t{1} << 50);
      if (tally.add(static_cast<unsigned>(i % 2), sigma)) {
        ++taken[sigma];
      } else {
        ++refused;
      }
    }
    EXPECT_EQ(refused > 0, room < 600000) << room;
    std::map<std::uint64_t, std::uint64_t> tallied;
    auto visit = [&](std::uint64_t sigma, std::uint64_t count) {
      EXPECT_TRUE(tallied.emplace(sigma, count).second) << sigma << " twice";
    };
    tally.forEachClaimed(visit);
    tally.forEachClaimed(visit);  // every bucket was claimed already
    EXPECT_EQ(tallied, taken);
  }
  tally.reset(2, SigmaTally::kPage * SigmaTally::kBuckets * 2);
  std::uint64_t visits = 0;
  tally.forEachClaimed([&](std::uint64_t, std::uint64_t) { ++visits; });
  EXPECT_EQ(visits, 0u);
  // A pool full of repeated sigma is compacted in place and keeps taking
  // them: a thousand sigma taken ten thousand times each through one page a
  // bucket, every weight past an entry's field split, and the tally exact.
  tally.reset(1, SigmaTally::kPage * SigmaTally::kBuckets);
  constexpr std::uint64_t kTimes = 10000;
  static_assert(kTimes > SigmaTally::kMostWeight);
  std::uint64_t refused = 0;
  for (std::uint64_t round = 0; round < kTimes; ++round) {
    for (std::uint64_t sigma = 1; sigma <= 1000; ++sigma) refused += tally.add(0, sigma * 977) ? 0 : 1;
  }
  EXPECT_EQ(refused, 0u);
  std::map<std::uint64_t, std::uint64_t> tallied;
  tally.forEachClaimed([&](std::uint64_t sigma, std::uint64_t count) { tallied[sigma] += count; });
  ASSERT_EQ(tallied.size(), 1000u);
  for (const auto& [sigma, count] : tallied) {
    EXPECT_EQ(sigma % 977, 0u);
    EXPECT_EQ(count, kTimes) << sigma;
  }
  // Weighted entries, up to the largest weight an entry holds, add up as
  // that many single ones, through compactions too; the largest sigma keeps
  // its bits apart from the weight's.
  tally.reset(2, SigmaTally::kPage * SigmaTally::kBuckets * 4);
  std::map<std::uint64_t, std::uint64_t> weighed;
  for (int i = 0; i < 400000; ++i) {
    const std::uint64_t sigma = i % 1000 == 0 ? SigmaTally::kMostSigma : 1 + random() % 3000;
    const std::uint64_t weight =
        i % 7 == 0 ? SigmaTally::kMostWeight : 1 + random() % SigmaTally::kMostWeight;
    if (tally.add(static_cast<unsigned>(i % 2), sigma, weight)) weighed[sigma] += weight;
  }
  ASSERT_EQ(weighed.size(), 3001u);
  tallied.clear();
  tally.forEachClaimed([&](std::uint64_t sigma, std::uint64_t count) { tallied[sigma] += count; });
  EXPECT_EQ(tallied, weighed);
}

// Blocks in a row read off one walk of a span of them count as blocks that
// walk their own prefixes: with room for the span's tally (the span walked
// once, its last block narrower, and low down many of its prefixes loose), and
// without (its prefixes left loose past their room, the span given up and
// each block walking its own).
TEST(WindowSums, BlocksReadOffASpanCountAsBlocksWalkedAlone) {
  arith::PrimeTable table;
  arith::BlockCounter counter(2);
  for (const auto& [from, width] :
       {std::pair<std::uint64_t, std::uint64_t>{(std::uint64_t{1} << 33) + 12345, 1 << 18},
        {(std::uint64_t{1} << 25) + 777, 1 << 15}}) {
    const std::uint64_t end = from + 5 * width + width / 3;
    auto run = [&](arith::WindowSums& window, std::vector<bool>& spanned) {
      std::vector<Count> counts;
      for (std::uint64_t first = from; first <= end; first += width) {
        counter.count(window, first, std::min(end, first + width - 1), 8,
                      [&](Int64, std::span<const Count> part) {
                        counts.insert(counts.end(), part.begin(), part.end());
                      },
                      {});
        spanned.push_back(window.spanned());
      }
      return counts;
    };
    arith::WindowSums alone(table);
    std::vector<bool> none;
    const std::vector<Count> expected = run(alone, none);
    EXPECT_EQ(none, std::vector<bool>(6, false));
    for (const std::uint64_t tallyBytes : {std::uint64_t{64} << 20, std::uint64_t{8}}) {
      arith::WindowSums window(table, arith::WindowSums::kDenseSigma, 64);
      window.expectUpTo(end, tallyBytes);
      std::vector<bool> spanned;
      EXPECT_EQ(run(window, spanned), expected) << from << " " << tallyBytes;
      EXPECT_EQ(spanned, std::vector<bool>(6, tallyBytes > 8)) << from << " " << tallyBytes;
    }
  }
}

// A walk stopped in one thread leaves a span that covers no block, even once
// the other threads have ended theirs; a tally read in part is not frozen,
// and one read whole is frozen as it was read.
TEST(SpanPrefixes, NothingStoppedHalfWayIsUsed) {
  arith::PrimeTable table;
  table.extendPast(1 << 17);
  const std::uint64_t first = std::uint64_t{1} << 33;
  arith::SpanPrefixes span;
  span.begin(first, first + (1 << 20), 513, 2, 1 << 23, 1 << 14);
  EXPECT_THROW(span.build(1, table.primes(), [](std::uint64_t) { throw std::runtime_error("stopped"); }),
               std::runtime_error);
  span.build(0, table.primes(), [](std::uint64_t) {});
  EXPECT_FALSE(span.built());
  EXPECT_FALSE(span.covers(first, first + 1000, 513, 2));
  span.begin(first, first + (1 << 20), 513, 2, 1 << 23, 1 << 14);
  span.build(1, table.primes(), [](std::uint64_t) {});
  span.build(0, table.primes(), [](std::uint64_t) {});
  EXPECT_TRUE(span.covers(first, first + 1000, 513, 2));
  std::map<std::uint64_t, std::uint64_t> read;
  span.tally().forEachClaimed([&](std::uint64_t sigma, std::uint64_t prefixes) {
    if (read.size() % 2 == 0) span.keep(read.size() % 4 == 0 ? 0 : 1, sigma, prefixes);
    read[sigma] = prefixes;
  });
  ASSERT_GT(read.size(), 100u);
  span.settle();
  EXPECT_FALSE(span.frozen());
  span.tally().forEachClaimed(
      [&](std::uint64_t sigma, std::uint64_t prefixes) { span.keep(1, sigma, prefixes); });
  span.settle();
  ASSERT_TRUE(span.frozen());
  std::map<std::uint64_t, std::uint64_t> frozen;
  for (unsigned t = 0; t < 2; ++t)
    span.forEachFrozen(t, [&](std::uint64_t sigma, std::uint64_t prefixes) { frozen[sigma] += prefixes; });
  EXPECT_EQ(frozen, read);
}

// A span's walk, shared by one or two threads, files every prefix whose
// sigma reaches the floor: those whose interval may be cut by a block of the
// span listed loose with their largest prime, the rest tallied by sigma where
// the room allows and loose otherwise. Too little loose room fails the walk.
TEST(SpanPrefixes, EveryPrefixIsTalliedOrLooseOnce) {
  arith::PrimeTable table;
  table.extendPast(1 << 17);
  const std::uint64_t first = (std::uint64_t{1} << 31) + 99;
  const std::uint64_t last = first + (1 << 22);
  constexpr std::uint64_t kFloor = 513;
  using Pairs = std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t>;
  Pairs all;   // (sigma, largest) of every prefix at the floor or above
  Pairs must;  // of those whose interval a block may cut
  const arith::PrefixWalk walk(table.primes(), last);
  auto note = [&](const Prefix& k) {
    if (k.sigma < kFloor) return;
    ++all[{k.sigma, k.largest}];
    if (k.sigma * (k.largest + 1) >= first) ++must[{k.sigma, k.largest}];
  };
  note(Prefix{});
  walk.forEachBelow(Prefix{}, note);
  std::map<std::uint64_t, std::uint64_t> bySigma;
  for (const auto& [key, n] : all) bySigma[key.first] += n;
  ASSERT_GT(bySigma.size(), 10000u);
  arith::SpanPrefixes span;
  for (const unsigned threads : {1u, 2u}) {
    for (const std::uint64_t entries : {std::uint64_t{1} << 24, arith::SigmaTally::kPage * 3}) {
      span.begin(first, last, kFloor, threads, entries, std::uint64_t{1} << 24);
      std::vector<std::thread> walkers;
      for (unsigned t = 0; t < threads; ++t)
        walkers.emplace_back([&, t] { span.build(t, table.primes(), [](std::uint64_t) {}); });
      for (std::thread& walker : walkers) walker.join();
      ASSERT_TRUE(span.built());
      std::map<std::uint64_t, std::uint64_t> counted;
      span.tally().forEachClaimed([&](std::uint64_t sigma, std::uint64_t n) { counted[sigma] += n; });
      Pairs loose;
      for (unsigned t = 0; t < threads; ++t) {
        const auto list = span.loose(t);
        EXPECT_TRUE(
            std::ranges::is_sorted(list, {}, [](const auto& k) { return k.sigma * (k.largest + 2); }));
        for (const auto& k : list) {
          ++loose[{k.sigma, k.largest}];
          ++counted[k.sigma];
        }
      }
      EXPECT_EQ(counted, bySigma) << threads << " " << entries;
      Pairs cut;  // the loose ones a block may cut, and none that is not a prefix
      for (const auto& [key, n] : loose) {
        const auto found = all.find(key);
        ASSERT_TRUE(found != all.end() && found->second >= n) << key.first << " " << key.second;
        if (key.first * (key.second + 1) >= first) cut[key] = n;
      }
      EXPECT_EQ(cut, must) << threads << " " << entries;
      if (entries < 10000) {
        EXPECT_GT(loose.size(), must.size() * 2);
      }
    }
  }
  std::uint64_t cutCount = 0;
  for (const auto& entry : must) cutCount += entry.second;
  span.begin(first, last, kFloor, 1, std::uint64_t{1} << 24, cutCount / 2);
  span.build(0, table.primes(), [](std::uint64_t) {});
  EXPECT_TRUE(span.failed());
  EXPECT_FALSE(span.built());
}

// The low primes a calculation keeps hold what a plain sieve finds, read
// through any range of whole words; an extension stopped half way is sieved
// again by the next block's.
TEST(LowPrimes, HoldThePrimesAndRedoAnExtensionStoppedHalfWay) {
  arith::PrimeTable table;
  table.extendPast(1 << 13);
  constexpr std::uint64_t kSpan = arith::PrimeSegment::kSpan;
  const std::uint64_t end = 4 * kSpan;
  std::vector<bool> composite(end, false);
  composite[0] = composite[1] = true;
  for (std::uint64_t p = 2; p * p < end; ++p)
    for (std::uint64_t m = p * p; !composite[p] && m < end; m += p) composite[m] = true;
  arith::LowPrimes low;
  low.start(kSpan / 3, end + 5, arith::LowPrimes::bytesFor(3 * kSpan) + 1000);
  ASSERT_TRUE(low.started());
  EXPECT_EQ(low.first(), 0u);
  low.reach(2 * kSpan + 7);
  int polls = 0;
  EXPECT_THROW(low.sieveShared(table.primes(),
                               [&] {
                                 if (++polls == 2) throw std::runtime_error("stopped");
                               }),
               std::runtime_error);
  low.reach(end);  // the stopped extension from the start again, and one segment more
  EXPECT_EQ(low.top(), 3 * kSpan);
  low.sieveShared(table.primes(), [] {});
  for (const auto& [a, b] : {std::pair<std::uint64_t, std::uint64_t>{0, 3 * kSpan - 1},
                             {kSpan - 128, kSpan + 300},
                             {2 * kSpan + 1280, 3 * kSpan - 2}}) {
    std::vector<std::uint64_t> found;
    low.bits(a, b).forEachPrime(a, b, [&](std::uint64_t p) { found.push_back(p); });
    std::vector<std::uint64_t> expected;
    for (std::uint64_t n = a; n <= b; ++n)
      if (!composite[n]) expected.push_back(n);
    EXPECT_EQ(found, expected) << a << " " << b;
  }
}

// Blocks in a row that read the low part of their unions off the primes the
// calculation keeps count as blocks that sieve all of theirs: with the kept
// primes ending at 2^22, inside the long interval of sigma 1020 = sigma(1019)
// of the first block (a dense one, split where they end), and reaching past
// every union's low part (the filed intervals of sigma past 4096 read off them).
TEST(WindowSums, BlocksReadingTheKeptLowPrimesCountAsBlocksSievingThem) {
  arith::PrimeTable table;
  arith::BlockCounter counter(2);
  const std::uint64_t from = 1019 * arith::PrimeSegment::kSpan + 12345;
  const std::uint64_t width = std::uint64_t{1} << 24;
  const std::uint64_t end = from + 3 * width + width / 3;
  ASSERT_LT(from / 1020, arith::PrimeSegment::kSpan);
  ASSERT_GT((from + width - 1) / 1020, arith::PrimeSegment::kSpan);
  auto run = [&](arith::WindowSums& window) {
    std::vector<Count> counts;
    for (std::uint64_t first = from; first <= end; first += width) {
      counter.count(
          window, first, std::min(end, first + width - 1), 8,
          [&](Int64, std::span<const Count> part) { counts.insert(counts.end(), part.begin(), part.end()); },
          {});
    }
    return counts;
  };
  arith::WindowSums alone(table);
  const std::vector<Count> expected = run(alone);
  ASSERT_EQ(expected.size(), end - from + 1);
  for (const std::uint64_t numbers : {arith::PrimeSegment::kSpan, std::uint64_t{1} << 30}) {
    arith::WindowSums window(table);
    window.expectUpTo(end, 0, arith::LowPrimes::bytesFor(numbers));
    EXPECT_EQ(run(window), expected) << numbers;
  }
}
