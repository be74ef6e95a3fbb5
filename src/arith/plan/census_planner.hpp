// Chooses how to count one block of values: by sieving every candidate that
// can reach the block, by walking the largest prime factors of the m whose
// sum falls in it, or by inverting the divisor sum value by value.
#pragma once

#include <cstdint>

namespace arith {

enum class Method { Sieve, Inversion, Window };

struct BlockPlan {
  std::uint64_t first = 0;  // the block of values [first, last]
  std::uint64_t last = 0;
  Method method = Method::Inversion;
  unsigned countBits = 8;   // for the sieve and the window: the width of its counts, 4 or 8 bits
  double cost = 0;          // estimated seconds
  double prepared = 0;      // the share of cost taken before the block's own sums: a span's walk
  std::uint64_t bytes = 0;  // estimated peak memory of the block
};

class CensusPlanner {
 public:
  // `memoryBudget`: the bytes a block may take.
  CensusPlanner(unsigned threads, std::uint64_t memoryBudget);

  void setMemoryBudget(std::uint64_t bytes);
  std::uint64_t memoryBudget() const { return budget_; }
  // The most values the sieve counts at once within the budget.
  std::uint64_t sieveBlockValues() const { return blockValues_; }

  // The next block of [from, to] and its method: whichever costs less.
  // `runFirst` (from when 0): where the calculation that asks began, [runFirst,
  // to] being all of it; its wide blocks' memory is taken once for all of it.
  BlockPlan plan(std::uint64_t from, std::uint64_t to, std::uint64_t runFirst = 0) const;
  // Calls visit(block) for the planned blocks of [from, to] in order, while
  // it returns true, each with the cost it has where it stands: the first
  // pays its fresh pages, and the first of a span of window blocks the
  // span's walk, which the others of the span then only read.
  template <class Visit>
  void forEachBlock(std::uint64_t from, std::uint64_t to, const Visit& visit) const;

  double sieveCost(std::uint64_t first, std::uint64_t last) const;
  double inversionCost(std::uint64_t first, std::uint64_t last) const;
  // `walkShare`: the share of the prefixes' walk the block pays (less than
  // one where a span of blocks walks them once, span_prefixes.hpp).
  double windowCost(std::uint64_t first, std::uint64_t last, double walkShare = 1) const;
  // The room a calculation up to `to` gives the tally of a span of window
  // blocks: 0 where it would take more than a quarter of the budget, and
  // the blocks walk their prefixes one by one.
  std::uint64_t spanTallyBytes(std::uint64_t to) const;
  // The room a calculation of [first, to] gives the low primes its window
  // blocks keep (low_primes.hpp): at most an eighth of the budget.
  std::uint64_t lowPrimesBytes(std::uint64_t first, std::uint64_t to) const;
  // What a calculation's first block costs besides its plan: a block wider
  // than kNarrowBlock takes its memory as fresh pages, which the kernel
  // clears (blocks after it reuse them).
  double freshPagesCost(const BlockPlan& first) const;

  // Blocks up to this width keep their counts in memory that stays in use
  // from block to block; wider ones cost more per value (see sieveCost).
  static constexpr std::uint64_t kNarrowBlock = std::uint64_t{1} << 30;
  // A window block wider than kNarrowBlock is at most this share of the calculation.
  static constexpr std::uint64_t kWideWindowRun = 8;
  // The sieve's smallest block, whatever the budget.
  static constexpr std::uint64_t kSmallestBlock = std::uint64_t{1} << 10;

 private:
  // A window block's cost where it stands in the calculation up to `to`:
  // the first block of a span (after `spanLast`, the last span's end, which
  // it then moves on) pays the span's walk; blocks inside a span, what they
  // read off it. The same rule as the window walk's (window_sums.hpp).
  void chargeSpan(BlockPlan& block, std::uint64_t to, std::uint64_t& spanLast) const;
  // The fresh pages of a window block of `values` values in 8-bit counts.
  double wideWindowPagesCost(std::uint64_t values) const;
  // The widest window blocks (4-bit and 8-bit counts) beside `keptBytes` kept
  // for the whole calculation (a span's tally, the low primes).
  struct WindowWidths {
    std::uint64_t values;
    std::uint64_t byteValues;
  };
  WindowWidths windowWidths(std::uint64_t keptBytes) const;
  // Weighs the window blocks from `from` through consider(method, last, cost,
  // once): one of at most `narrow`, and one wide in 8-bit counts.
  template <class Consider>
  void considerWindow(const Consider& consider, std::uint64_t from, std::uint64_t to, std::uint64_t runFirst,
                      std::uint64_t narrow, std::uint64_t tally, const WindowWidths& window) const;
  // The share of the walk a window block [from, last] of [runFirst, to] pays.
  static double walkShare(std::uint64_t from, std::uint64_t last, std::uint64_t to, std::uint64_t runFirst,
                          std::uint64_t tallyBytes);

  unsigned threads_;
  std::uint64_t budget_ = 0;
  std::uint64_t blockValues_ = kSmallestBlock;
  std::uint64_t byteValues_ = kSmallestBlock;        // the most in 8-bit counts, which count faster
  std::uint64_t windowValues_ = kSmallestBlock;      // the same for window blocks,
  std::uint64_t windowByteValues_ = kSmallestBlock;  // which keep their primes' bits
};

template <class Visit>
void CensusPlanner::forEachBlock(std::uint64_t from, std::uint64_t to, const Visit& visit) const {
  const std::uint64_t runFirst = from;
  std::uint64_t spanLast = 0;
  for (;;) {
    BlockPlan block = plan(from, to, runFirst);
    chargeSpan(block, to, spanLast);
    if (from == runFirst) {  // its fresh pages come after the span's walk
      const double fresh = freshPagesCost(block);
      block.prepared *= block.cost / (block.cost + fresh);
      block.cost += fresh;
    }
    if (!visit(block) || block.last == to) return;
    from = block.last + 1;
  }
}

}  // namespace arith
