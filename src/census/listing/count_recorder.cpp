#include "census/listing/count_recorder.hpp"

#include <array>

#include "common/check.hpp"

namespace census {

using common::Int64;

void recordCounts(PairsFile& pairs, arith::CountHistogram& NN, Int64 first,
                  std::span<const common::Count> counts) {
  // Small counts go to four interleaved tallies first: most values share a
  // handful of counts, and one tally would chain every increment on the one
  // before. They are added to NN after the block.
  constexpr std::size_t kLanes = 4;
  constexpr common::Count kSmall = 64;
  std::array<std::array<Int64, kSmall>, kLanes> tallies{};
  for (std::size_t k = 0; k < counts.size(); ++k) {
    // Formed from the block's first value: one past L2 may not exist.
    const Int64 N = first + static_cast<Int64>(k);
    const common::Count ns = counts[k];
    SIGMA_ASSERT(ns >= 0 && ns <= N);
    pairs.record(ns, N);
    if (ns < kSmall) {
      ++tallies[k % kLanes][static_cast<std::size_t>(ns)];
    } else {
      NN.add(ns);
    }
  }
  for (const auto& tally : tallies) {
    for (common::Count n = 0; n < kSmall; ++n) NN.add(n, tally[static_cast<std::size_t>(n)]);
  }
}

}  // namespace census
