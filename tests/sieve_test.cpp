// The sieve method: sums by residue class, compact counts and their escape,
// and the bounds that skip candidates, against plain computations.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "arith/blocks/block_counts.hpp"
#include "arith/blocks/sum_buffer.hpp"
#include "arith/blocks/sum_filer.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "arith/inversion/factorizer.hpp"
#include "arith/sieve/candidate_bounds.hpp"
#include "arith/sieve/sigma_sieve.hpp"
#include "collect_counts.hpp"

namespace {

using common::Count;
using common::Int64;

std::vector<std::uint64_t> sieved(arith::SigmaSieve& sieve) {
  std::vector<std::uint64_t> all;
  for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next())
    all.insert(all.end(), sums.begin(), sums.end());
  return all;
}

TEST(SigmaSieve, EveryResidueClassAgreesWithFactoring) {
  arith::PrimeTable table;
  arith::Factorizer factorizer(table);
  table.extendPast(1 << 21);  // up to the square root of 2^42
  arith::SigmaSieve sieve(table.primes());
  std::mt19937_64 random(6);
  for (int round = 0; round < 24; ++round) {
    const std::uint64_t lo =
        round < 4 ? 1 + random() % 50 : 1 + random() % (std::uint64_t{1} << (10 + round));
    const std::uint64_t hi = lo + 1 + random() % 100000;
    for (std::uint64_t r = 0; r < 6; ++r) {
      sieve.start(lo, hi, r, 6);
      const std::vector<std::uint64_t> sums = sieved(sieve);
      std::size_t k = 0;
      for (std::uint64_t m = lo; m < hi; ++m) {
        if (m % 6 != r) continue;
        ASSERT_LT(k, sums.size()) << lo << " " << r;
        ASSERT_EQ(sums[k++], sigmaOf(factorizer, m)) << m;
      }
      EXPECT_EQ(k, sums.size());
    }
    sieve.start(lo, hi);
    const std::vector<std::uint64_t> all = sieved(sieve);
    ASSERT_EQ(all.size(), hi - lo);
    for (std::uint64_t m = lo; m < hi; m += 97) EXPECT_EQ(all[m - lo], sigmaOf(factorizer, m)) << m;
  }
}

template <class Counts>
class BlockCounts : public ::testing::Test {};
using Widths = ::testing::Types<arith::BlockCounts<4>, arith::BlockCounts<8>>;
TYPED_TEST_SUITE(BlockCounts, Widths);

TYPED_TEST(BlockCounts, ExactAroundTheEscapeAndPastIt) {
  constexpr std::uint64_t kValues = 3 * TypeParam::kRegionValues + 5;  // a short last region
  std::vector<std::uint8_t> bytes(TypeParam::bytesFor(kValues), 0);
  TypeParam counts(bytes.data(), kValues);
  std::vector<Count> expected(kValues, 0);
  std::mt19937_64 random(15);
  auto bump = [&](std::uint64_t offset, int times) {
    for (int k = 0; k < times; ++k) counts.bump(offset);
    expected[offset] += times;
  };
  for (int times : {1, 13, 14, 15, 16, 17, 190, 191, 192, 193, 253, 254, 255, 256, 1000}) {
    bump(random() % kValues, times);
    bump(kValues - 1 - static_cast<std::uint64_t>(times), times);  // neighbours share bytes
  }
  bump(kValues - 1, 20);  // the odd last value
  // A region full of small counts, as high up: every kind of byte, in every
  // lane, and vectors with none, one, two and more bytes past 3.
  for (std::uint64_t offset = 2; offset < TypeParam::kRegionValues; ++offset) {
    const std::uint64_t draw = random() % 10;
    bump(offset, draw < 4 ? 0 : draw < 6 ? 1 : static_cast<int>(draw) - 4);
  }
  bump(0, 15);
  bump(1, 14);
  // More rich values in one region than it has rich counts: the last ones go to the side table.
  for (std::uint64_t k = 0; k < TypeParam::kIds + 10; ++k)
    bump(TypeParam::kRegionValues + 7 * k, 200 + static_cast<int>(k));
  // Weighted, from fields of every kind, across kTop and the escape.
  std::uint64_t offset = 2 * TypeParam::kRegionValues;
  for (int before : {0, 10, 14, 190, 191, 200, 300}) {
    for (std::uint64_t weight : {1, 2, 5, 300}) {
      bump(offset, before);
      counts.bumpBy(offset, weight);
      expected[offset] += static_cast<Count>(weight);
      offset += 37;
    }
  }
  std::vector<Count> copied(kValues);
  counts.copy(0, copied);
  EXPECT_EQ(copied, expected);
  std::vector<Count> part(1000);
  counts.copy(kValues - 1000, part);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.end() - 1000));
  arith::CountHistogram tallied;
  for (std::uint64_t r = 0; r < counts.regions(); ++r) counts.tallyRegion(r, tallied);
  arith::CountHistogram plain;
  for (Count c : expected) plain.add(c);
  EXPECT_EQ(tallied, plain);
}

// True when the bounds keep m for a block whose first value is sigma(m).
bool kept(std::uint64_t m, std::uint64_t sigma, std::uint64_t width = 1000) {
  const arith::CandidateRange range = arith::candidatesFor(sigma, sigma + width);
  return range.lowest[m % 6] <= m && m < range.end;
}

TEST(CandidateBounds, NoCandidateThatReachesTheBlockIsSkipped) {
  // Every m up to 3e6, at the lowest block it reaches.
  arith::PrimeTable table;
  table.extendPast(2000);
  arith::SigmaSieve sieve(table.primes(), 1, 3000001);
  std::uint64_t m = 1;
  for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
    for (std::uint64_t sigma : sums) {
      ASSERT_LE(arith::lowestCandidate(sigma), m) << m;
      if (m > 1) {
        ASSERT_TRUE(kept(m, sigma)) << m;
      }
      ++m;
    }
  }
  // High up, the hardest cases: in each class, numbers with the most small
  // primes, whose sigma(m) / m comes nearest the class's bound.
  arith::PrimeTable big;
  arith::Factorizer factorizer(big);
  const std::uint64_t from5[] = {5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43};
  for (std::uint64_t head : {1, 3, 9, 2, 4, 8, 6, 12, 24, 36, 48, 72, 720}) {
    std::uint64_t m = head;
    for (std::uint64_t p : from5) {
      if (m > (std::uint64_t{1} << 51) / p) break;
      m *= p;
      for (std::uint64_t extra : {1, 5, 25, 7}) {
        if (m > (std::uint64_t{1} << 51) / extra) continue;
        const std::uint64_t n = m * extra;
        EXPECT_TRUE(kept(n, sigmaOf(factorizer, n))) << n;
      }
    }
  }
  std::mt19937_64 random(36);
  for (int k = 0; k < 20000; ++k) {
    const std::uint64_t n = 2 + random() % (std::uint64_t{1} << (20 + k % 30));
    EXPECT_TRUE(kept(n, sigmaOf(factorizer, n))) << n;
  }
  // The bounds do skip: at 2^36, numbers prime to 6 start near A / 2.18.
  const arith::CandidateRange high =
      arith::candidatesFor(std::uint64_t{1} << 36, (std::uint64_t{1} << 36) + 10);
  EXPECT_GT(high.lowest[1], (std::uint64_t{1} << 36) / 2.2);
  EXPECT_LT(high.lowest[0], (std::uint64_t{1} << 36) / 5);
}

// The counts of [first, last] from every candidate 1 .. last, no bound used.
std::vector<Count> fullSieve(std::uint64_t first, std::uint64_t last) {
  arith::PrimeTable table;
  table.extendPast(static_cast<Int64>(std::sqrt(static_cast<double>(last))) + 1);
  arith::SigmaSieve sieve(table.primes(), 1, std::max<std::uint64_t>(last, 2));
  std::vector<Count> counts(last - first + 1, 0);
  for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
    for (std::uint64_t sigma : sums) {
      if (sigma >= first && sigma <= last) ++counts[sigma - first];
    }
  }
  return counts;
}

TEST(CandidateBounds, PrunedBlocksAgreeWithTheFullSieveAndTheInversion) {
  arith::DivisorArithmetic arithmetic(2);
  std::mt19937_64 random(2);
  for (int round = 0; round < 30; ++round) {
    const auto first = static_cast<Int64>(1 + random() % 3000000);
    const Int64 last = first + static_cast<Int64>(random() % 50000);
    EXPECT_EQ(collect(arithmetic, arith::Method::Sieve, first, last),
              fullSieve(static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(last)))
        << first;
  }
  for (int round = 0; round < 6; ++round) {
    const auto first = static_cast<Int64>((std::uint64_t{1} << (22 + round % 3)) + random() % 1000000);
    const Int64 last = first + static_cast<Int64>(random() % 20000);
    EXPECT_EQ(collect(arithmetic, arith::Method::Sieve, first, last),
              collect(arithmetic, arith::Method::Inversion, first, last))
        << first;
  }
}

template <class Counts>
class Filing : public ::testing::Test {};
TYPED_TEST_SUITE(Filing, Widths);

// Sums that stand for many m at once (weights up to 1000, past what one entry
// holds, 256) count as many times as their weight, mixed with plain sums
// (some hot, past the escape) and with sums outside the block, in a block
// that ends inside its last byte; filed with a thread's whole pool, or with
// one that runs dry again and again, so that full chunks are counted early.
TYPED_TEST(Filing, WeightedSumsCountAsOftenAsTheirWeight) {
  using Filer = arith::SumFiler<TypeParam>;
  constexpr std::uint64_t kFirst = 5000;  // sums from 3000 on: some below the block, none below 0
  constexpr std::uint64_t kValues = 1024 * TypeParam::kRegionValues - 3;
  std::mt19937_64 random(33);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> weighted;  // (sum, weight)
  std::vector<std::uint64_t> plain;
  std::map<std::uint64_t, Count> expected;
  auto note = [&](int k, std::uint64_t sum, std::uint64_t weight) {
    const bool inBlock = sum >= kFirst && sum < kFirst + kValues;
    if (k % 5 == 0) {
      plain.push_back(sum);
      if (inBlock) ++expected[sum - kFirst];
    } else {
      weighted.emplace_back(sum, weight);
      if (inBlock) expected[sum - kFirst] += weight;
    }
  };
  for (int k = 0; k < 200000; ++k) {
    const std::uint64_t sum = k % 10 == 0 ? kFirst + 4 * (random() % 50)                  // hot
                                          : kFirst + random() % (kValues + 4000) - 2000;  // some outside
    note(k, sum, k % 3 == 0 ? 1 + random() % 1000 : 1 + random() % 4);
  }
  // Runs of two regions filled many times over by copies and records, and
  // the last offset of a region (the records' mark).
  for (int k = 0; k < 60000; ++k) {
    const std::uint64_t last = TypeParam::kRegionValues - 1;
    note(k, kFirst + (k % 2) * TypeParam::kRegionValues + (k % 7 == 0 ? last : random() % last),
         1 + random() % 6);
  }
  for (bool dry : {false, true}) {
    std::vector<std::uint8_t> bytes(TypeParam::bytesFor(kValues), 0);
    TypeParam counts(bytes.data(), kValues);
    std::vector<std::mutex> locks(Filer::slabsFor(kValues));
    std::vector<std::uint8_t> pool(dry ? (locks.size() + 4) * Filer::kChunkBytes : Filer::poolBytes(kValues));
    Filer filer(pool.data(), pool.size(), counts, locks, kFirst);
    const arith::SumSource::Filing file = [&](std::span<const std::uint64_t> entries, bool isWeighted) {
      if (isWeighted) {
        filer.fileWeighted(entries);
      } else {
        filer.file(entries);
      }
    };
    arith::SumBuffer shared(file, 1000, arith::SumBuffer::Kind::Weighted);
    arith::SumBuffer single(file, 777);
    for (std::size_t i = 0; i < weighted.size(); ++i) {
      shared.add(weighted[i].first, weighted[i].second);
      if (i < plain.size()) single.add(plain[i]);
    }
    shared.flush();
    single.flush();
    filer.flush();
    std::uint64_t checked = 0;
    for (const auto& [offset, count] : expected) {
      std::vector<Count> got(1);
      counts.copy(offset, got);
      checked += got[0] == count ? 1 : 0;
    }
    EXPECT_EQ(checked, expected.size()) << dry;
    arith::CountHistogram histogram;
    for (std::uint64_t r = 0; r < counts.regions(); ++r) counts.tallyRegion(r, histogram);
    EXPECT_EQ(histogram[0], static_cast<Int64>(kValues - expected.size())) << dry;
  }
}

// Threads filing into the same slabs, each with its own filer and a pool that
// runs dry, so that they count full chunks of the same slabs while another
// thread may be growing a region's side table (thousands of values past the
// escape); a slab's counts are fetched before its lock is taken.
TYPED_TEST(Filing, ThreadsFilingTheSameRegionsCountEverySumOnce) {
  using Filer = arith::SumFiler<TypeParam>;
  constexpr std::uint64_t kValues = 12 * TypeParam::kRegionValues;
  constexpr unsigned kThreads = 4;
  std::vector<std::vector<std::uint64_t>> shares(kThreads);
  std::vector<Count> expected(kValues, 0);
  std::mt19937_64 random(21);
  for (unsigned t = 0; t < kThreads; ++t) {
    for (int k = 0; k < 400000; ++k) {
      // Every 61st value of the block is warm: 2^16 / 5 of them a region, past every escape.
      const std::uint64_t value = k % 2 == 0 ? 61 * (random() % (kValues / 61)) : random() % kValues;
      shares[t].push_back(value);
      ++expected[value];
    }
  }
  std::vector<std::uint8_t> bytes(TypeParam::bytesFor(kValues), 0);
  TypeParam counts(bytes.data(), kValues);
  std::vector<std::mutex> locks(Filer::slabsFor(kValues));
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> pool((locks.size() + 8) * Filer::kChunkBytes);
      Filer filer(pool.data(), pool.size(), counts, locks, 0);
      for (std::size_t at = 0; at < shares[t].size(); at += 1000)
        filer.file(std::span(shares[t]).subspan(at, std::min<std::size_t>(1000, shares[t].size() - at)));
      filer.flush();
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<Count> copied(kValues);
  counts.copy(0, copied);
  EXPECT_EQ(copied, expected);
}

}  // namespace
