// Every m with sigma(m) == N, not only how many: the factors that the count
// multiplies (prime powers p^k whose sigma divides N) chosen again, one
// distinct prime at a time from the largest down, with each branch taken
// only where the rest of N can still be made from smaller primes. Which
// divisors can be made from the primes below a bound is one array (the
// smallest bound for each divisor, from the count's knapsack run once with
// booleans), so that every branch ends in a preimage and the walk costs a few
// steps per m, whatever the number of m.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "arith/inversion/sigma_inverse.hpp"
#include "common/widths.hpp"

namespace arith {

// Receives preimages in batches; returns false to stop the walk.
using PreimageSink = std::function<bool(std::span<const std::uint64_t> preimages)>;

class PreimageWalk {
 public:
  static constexpr std::size_t kBatch = 4096;  // preimages handed over at once

  PreimageWalk(const Factorizer& factorizer, SigmaInverse& inverse);

  // Hands every m with sigma(m) == N (1 <= N <= 2^63 - 1) to `sink`, in
  // batches, in no particular order; stops early when `sink` returns false.
  // Returns how many were handed over.
  common::Count walk(std::uint64_t N, const PreimageSink& sink);

 private:
  // One way to take a prime: p^k, the group of p (primes numbered from the
  // smallest), and the index of the divisor left once sigma(p^k) is taken.
  struct Choice {
    std::uint64_t power;
    std::uint32_t group;
    std::size_t rest;
  };
  struct Frame {
    std::size_t at;   // the next choice, in pool_
    std::size_t end;  // past the last
    std::uint64_t m;  // the product of the powers taken so far
  };
  static constexpr std::uint32_t kNever = UINT32_MAX;

  void numberGroups();
  void findLevels();
  std::span<const Choice> choicesOf(std::size_t q);
  bool push(std::size_t q, std::uint32_t bound, std::uint64_t m);
  bool emit(std::uint64_t m, const PreimageSink& sink);

  const Factorizer& factorizer_;
  SigmaInverse& inverse_;
  std::vector<std::uint32_t> groups_;      // per factor, its prime's number
  std::vector<std::uint64_t> powers_;      // per factor, p^k
  std::vector<std::size_t> byDivisor_;     // factors grouped by the divisor their sigma is
  std::vector<std::size_t> divisorStart_;  // where each divisor's factors start in byDivisor_
  std::vector<std::uint32_t> level_;       // the fewest groups, from the smallest, that make each divisor
  std::vector<std::size_t> choiceStart_;   // per divisor: its choices in pool_, or kUnset
  std::vector<std::size_t> choiceEnd_;
  std::vector<Choice> pool_;
  std::vector<Frame> stack_;
  std::vector<std::uint64_t> batch_;
  common::Count handed_ = 0;
};

}  // namespace arith
