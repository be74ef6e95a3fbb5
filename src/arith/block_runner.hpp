// Runs the blocks of an interval somewhere else than this process's threads
// (other processes, through MPI), for DivisorArithmetic. The arithmetic plans
// the blocks; a runner only carries them out and hands back their results.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arith/counts/block_sample.hpp"
#include "arith/counts/count_histogram.hpp"
#include "arith/counts/sinks.hpp"
#include "arith/plan/census_planner.hpp"

namespace arith {

// A block that failed where a runner ran it (on another rank): the
// calculation ends with it.
class BlockFailure : public std::runtime_error {
 public:
  static constexpr const char* kOutOfMemory = "out of memory";
  BlockFailure(int place, const std::string& what) : std::runtime_error(what), place_(place) {}
  int place() const { return place_; }  // the rank
  bool outOfMemory() const { return std::string(what()) == kOutOfMemory; }

 private:
  int place_;
};

class BlockRunner {
 public:
  virtual ~BlockRunner() = default;

  // How many blocks run at once: an interval is cut into several times as many.
  virtual unsigned parallelBlocks() const = 0;

  // Runs every block that `next` hands out (it returns false after the
  // last), in increasing order of value. With a sink, the counts reach it in
  // that order; otherwise each block's histogram is added to `histogram`.
  // `finished` is told of each block once its results are in, with the
  // block's own histogram when it was tallied (nullptr otherwise).
  //
  // With `recount` (the double check), each block's sample (DoubleCheck::sampleFor)
  // is counted again, by another place than the block's own where there is
  // one, else by `recount` here; a block is added, and told finished, only
  // once its sample agrees, and a difference throws DoubleCheckFailure.
  using Finished = std::function<void(const BlockPlan&, const CountHistogram* blockHistogram)>;
  using Recount = std::function<std::vector<common::Count>(const BlockPlan&, const BlockSample&)>;
  virtual void run(const std::function<bool(BlockPlan&)>& next, const CountSink* sink,
                   CountHistogram* histogram, const Finished& finished, const Recount* recount) = 0;
};

}  // namespace arith
