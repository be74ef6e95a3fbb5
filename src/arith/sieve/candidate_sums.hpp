// The divisor sums of a block from the sieve of every candidate that can
// reach it: threads take chunks of candidates in turn.
#pragma once

#include <atomic>
#include <cstdint>

#include "arith/blocks/sum_source.hpp"
#include "arith/primes/prime_table.hpp"
#include "arith/sieve/candidate_bounds.hpp"

namespace arith {

class CandidateSums : public SumSource {
 public:
  // Candidates a sieving thread takes at once.
  static constexpr std::uint64_t kChunk = std::uint64_t{1} << 22;

  explicit CandidateSums(PrimeTable& table) : table_(table) {}

  void prepare(std::uint64_t first, std::uint64_t last, unsigned threads) override;
  void produce(unsigned thread, const Filing& file, const ProgressSink& done) override;

 private:
  std::uint64_t firstChunk() const;

  PrimeTable& table_;
  CandidateRange range_;
  std::uint64_t last_ = 0;  // the block's last value
  std::atomic<std::uint64_t> nextChunk_{0};
};

}  // namespace arith
