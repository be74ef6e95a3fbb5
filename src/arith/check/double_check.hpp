// The double check of a calculation: each block's counts of a sample of its
// values are counted again by the inversion, value by value, and must agree.
// The sieve and the window walk count every value of a block at once from
// the sums of the m below it; the inversion counts one value from its own
// divisors: a fault of memory, of a core or of the code in one of them does
// not make the same wrong count in the other. Blocks the inversion counted
// are recounted by listing their values' preimages (PreimageWalk) instead.
#pragma once

#include <cstdint>
#include <vector>

#include "arith/counts/block_sample.hpp"
#include "arith/inversion/block_inverter.hpp"
#include "arith/plan/census_planner.hpp"

namespace arith {

class DoubleCheck {
 public:
  // Values sampled in a block counted all at once; a block the inversion
  // counted samples one value in kInvertedShare, since there each value costs
  // as much as its recount.
  static constexpr std::uint64_t kSample = 1000;
  static constexpr std::uint64_t kInvertedShare = 128;

  // The block's sample, its values drawn and its counts not yet captured.
  static BlockSample sampleFor(const BlockPlan& block);
  // The sample's values counted again by `inverter`, the second way for the block's method.
  static std::vector<common::Count> recount(const BlockPlan& block, const BlockSample& sample,
                                            BlockInverter& inverter);
  // In Debug builds only: with SIGMA_CENSUS_TEST_MISCOUNT=S in the
  // environment, every block claims one preimage more for each sampled value
  // from S on, as a fault would, so that tests see the check fail. Release
  // builds have no such hook.
  static void injectTestFault(const BlockPlan& block, BlockSample& sample);
};

}  // namespace arith
