// Chooses how to count one block of values: by sieving every candidate that
// can reach the block, or by inverting the divisor sum value by value.
#pragma once

#include <cstdint>

namespace arith {

enum class Method { Sieve, Inversion };

struct BlockPlan {
  std::uint64_t first = 0;  // the block of values [first, last]
  std::uint64_t last = 0;
  Method method = Method::Inversion;
  std::uint64_t lowestCandidate = 1;  // for the sieve: candidates from here to last - 1
  double cost = 0;                    // estimated seconds
  std::uint64_t bytes = 0;            // estimated peak memory of the block
};

// The smallest m whose divisor sum can reach `value`: below it, Robin's bound
// sigma(m) < e^gamma m ln ln m + 0.6483 m / ln ln m (m >= 3) keeps sigma(m) under value.
std::uint64_t lowestCandidate(std::uint64_t value);

class CensusPlanner {
 public:
  // `blockValues`: the most values counted at once by the sieve, one byte each.
  CensusPlanner(unsigned threads, std::uint64_t blockValues);

  // The next block of [from, to] and its method: whichever costs less.
  BlockPlan plan(std::uint64_t from, std::uint64_t to) const;

  double sieveCost(std::uint64_t first, std::uint64_t last) const;
  double inversionCost(std::uint64_t first, std::uint64_t last) const;

  // The sieve files the sums of a block by region of 2^kRegionBits values, in
  // batches of kBatch 16-bit offsets per region and thread.
  static constexpr unsigned kRegionBits = 16;
  static constexpr std::uint64_t kBatch = 4096;
  // Candidates a sieving thread takes at once, and values inverted at once.
  static constexpr std::uint64_t kSieveChunk = std::uint64_t{1} << 20;
  static constexpr std::uint64_t kInversionBlock = std::uint64_t{1} << 16;
  // What a block may hold in memory: its counts and its batches.
  static constexpr std::uint64_t kMemoryBudget = std::uint64_t{1400} << 20;

 private:
  unsigned threads_;
  std::uint64_t blockValues_;
};

}  // namespace arith
