#include "arith/divisor_arithmetic.hpp"

#include <algorithm>
#include <atomic>
#include <thread>
#include <unordered_map>
#include <vector>

#include "arith/parallel.hpp"
#include "arith/sigma_inverse.hpp"
#include "arith/sigma_sieve.hpp"
#include "arith/wide.hpp"

namespace arith {

using common::Count;
using common::Int64;

namespace {

unsigned defaultThreads(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

// Counts of a block of values, one byte each: a count of 255 or more is kept
// exactly in a side table, which only a handful of values ever need.
class ByteCounts {
 public:
  explicit ByteCounts(std::uint64_t size) : small_(size, 0) {}

  // Only one thread bumps a given part of the block, and each part has its own side table.
  void bump(std::uint64_t offset, std::unordered_map<std::uint64_t, Count>& large) {
    std::uint8_t& c = small_[offset];
    if (c < kLarge - 1) {
      ++c;
    } else if (c == kLarge - 1) {
      c = kLarge;
      large[offset] = kLarge;
    } else {
      ++large[offset];
    }
  }
  Count get(std::uint64_t offset, const std::vector<std::unordered_map<std::uint64_t, Count>>& large) const {
    const std::uint8_t c = small_[offset];
    if (c != kLarge) return c;
    for (const auto& part : large) {
      const auto found = part.find(offset);
      if (found != part.end()) return found->second;
    }
    return kLarge;
  }

 private:
  static constexpr std::uint8_t kLarge = 255;
  std::vector<std::uint8_t> small_;
};

}  // namespace

DivisorArithmetic::DivisorArithmetic(unsigned threads, std::uint64_t blockValues)
    : threads_(defaultThreads(threads)), engine_(table_), planner_(threads_, blockValues) {}

void DivisorArithmetic::countDivisorSums(Int64 L1, Int64 L2, const CountSink& sink,
                                         const ProgressSink& progress) {
  const auto to = static_cast<std::uint64_t>(L2);
  // The estimated cost of the whole interval, to report progress by; for
  // intervals of very many blocks, the share of values done stands in for it.
  constexpr int kPlannedAhead = 4096;
  double total = 0;
  bool byCost = true;
  {
    auto from = static_cast<std::uint64_t>(L1);
    for (int k = 0;; ++k) {
      if (k == kPlannedAhead) {
        byCost = false;
        break;
      }
      const BlockPlan block = planner_.plan(from, to);
      total += block.cost;
      if (block.last == to) break;
      from = block.last + 1;
    }
  }
  const double width = static_cast<double>(to - static_cast<std::uint64_t>(L1)) + 1;
  double doneBefore = 0;
  auto from = static_cast<std::uint64_t>(L1);
  for (;;) {
    const BlockPlan block = planner_.plan(from, to);
    auto done = [&](double share) {
      if (!progress) return;
      if (byCost) {
        progress(total > 0 ? std::min(1.0, (doneBefore + share * block.cost) / total) : 1.0);
      } else {
        progress((static_cast<double>(block.first - static_cast<std::uint64_t>(L1)) +
                  share * static_cast<double>(block.last - block.first + 1)) /
                 width);
      }
    };
    runBlock(block, sink, done);
    doneBefore += block.cost;
    if (block.last == to) break;
    from = block.last + 1;
  }
}

void DivisorArithmetic::countWith(Method method, Int64 L1, Int64 L2, const CountSink& sink) {
  auto from = static_cast<std::uint64_t>(L1);
  const auto to = static_cast<std::uint64_t>(L2);
  for (;;) {
    BlockPlan block = planner_.plan(from, to);
    block.method = method;
    block.lowestCandidate = lowestCandidate(block.first);
    runBlock(block, sink, [](double) {});
    if (block.last == to) break;
    from = block.last + 1;
  }
}

void DivisorArithmetic::runBlock(const BlockPlan& block, const CountSink& sink,
                                 const std::function<void(double)>& done) {
  if (block.method == Method::Sieve) {
    sieveBlock(block, sink, done);
  } else {
    invertBlock(block, sink, done);
  }
}

void DivisorArithmetic::sieveBlock(const BlockPlan& block, const CountSink& sink,
                                   const std::function<void(double)>& done) {
  const std::uint64_t first = block.first;
  const std::uint64_t width = block.last - block.first + 1;
  // Every m > 1 has sigma(m) > m, so the candidates stop below the last value;
  // m = 1 (sigma 1) is always taken.
  const std::uint64_t lo = block.lowestCandidate;
  const std::uint64_t hi = std::max<std::uint64_t>(block.last, 2);
  constexpr std::uint64_t kBuckets = 4096;
  table_.extendPast(static_cast<Int64>(isqrt(hi - 1)));

  ByteCounts counts(width);
  std::vector<std::unordered_map<std::uint64_t, Count>> large(threads_);
  // The sums that fall in the block are first sorted into buckets of values
  // small enough for the cache, then counted bucket by bucket: counting them
  // straight into the whole block would miss the cache at nearly every sum.
  unsigned shift = 0;
  while (((width - 1) >> shift) >= kBuckets) ++shift;
  const std::uint64_t buckets = ((width - 1) >> shift) + 1;
  // lists[t * (buckets + 1) + b]: the offsets of bucket b found by thread t;
  // bucket `buckets` takes the sums outside the block, and is never counted.
  std::vector<std::vector<std::uint32_t>> lists(threads_ * (buckets + 1));

  for (std::uint64_t chunk = lo; chunk < hi; chunk += CensusPlanner::kSieveChunk) {
    const std::uint64_t end = std::min(hi, chunk + CensusPlanner::kSieveChunk);
    const std::uint64_t size = end - chunk;
    runParallel(threads_, [&](unsigned t) {
      std::vector<std::uint32_t>* mine = lists.data() + t * (buckets + 1);
      for (std::uint64_t b = 0; b <= buckets; ++b) mine[b].clear();
      SigmaSieve sieve(table_.Nprem, chunk + size * t / threads_, chunk + size * (t + 1) / threads_);
      for (auto sums = sieve.next(); !sums.empty(); sums = sieve.next()) {
        for (const std::uint64_t sigma : sums) {
          const std::uint64_t offset = sigma - first;  // wraps when sigma < first
          const std::uint64_t bucket = offset < width ? offset >> shift : buckets;
          mine[bucket].push_back(static_cast<std::uint32_t>(offset));
        }
      }
    });
    // Each thread counts its own buckets, so no two threads touch one count.
    runParallel(threads_, [&](unsigned t) {
      for (std::uint64_t b = buckets * t / threads_; b < buckets * (t + 1) / threads_; ++b) {
        for (unsigned from = 0; from < threads_; ++from) {
          for (const std::uint32_t offset : lists[from * (buckets + 1) + b]) counts.bump(offset, large[t]);
        }
      }
    });
    done(static_cast<double>(end - lo) / static_cast<double>(hi - lo) * 0.95);
  }

  std::vector<Count> out;
  for (std::uint64_t start = 0; start < width; start += CensusPlanner::kInversionBlock) {
    const std::uint64_t size = std::min(CensusPlanner::kInversionBlock, width - start);
    out.resize(size);
    for (std::uint64_t k = 0; k < size; ++k) out[k] = counts.get(start + k, large);
    sink(static_cast<Int64>(first + start), out);
  }
  done(1.0);
}

void DivisorArithmetic::invertBlock(const BlockPlan& block, const CountSink& sink,
                                    const std::function<void(double)>& done) {
  if (!factorizer_) factorizer_ = std::make_unique<Factorizer>(table_);
  const std::uint64_t width = block.last - block.first + 1;
  std::vector<Count> out;
  for (std::uint64_t start = 0; start < width; start += CensusPlanner::kInversionBlock) {
    const std::uint64_t size = std::min(CensusPlanner::kInversionBlock, width - start);
    const std::uint64_t first = block.first + start;
    out.assign(size, 0);
    // Values are handed out in small batches: their costs vary widely.
    constexpr std::uint64_t kBatch = 16;
    std::atomic<std::uint64_t> next{0};
    runParallel(threads_, [&](unsigned) {
      SigmaInverse inverse(*factorizer_);
      for (std::uint64_t k = next.fetch_add(kBatch); k < size; k = next.fetch_add(kBatch)) {
        const std::uint64_t stop = std::min(size, k + kBatch);
        for (std::uint64_t j = k; j < stop; ++j) out[j] = inverse.count(first + j);
      }
    });
    sink(static_cast<Int64>(first), out);
    done(static_cast<double>(start + size) / static_cast<double>(width));
  }
}

}  // namespace arith
