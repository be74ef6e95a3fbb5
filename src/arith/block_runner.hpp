// Runs the blocks of an interval somewhere else than this process's threads
// (other processes, through MPI), for DivisorArithmetic. The arithmetic plans
// the blocks; a runner only carries them out and hands back their results.
#pragma once

#include <functional>

#include "arith/counts/count_histogram.hpp"
#include "arith/counts/sinks.hpp"
#include "arith/plan/census_planner.hpp"

namespace arith {

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
  using Finished = std::function<void(const BlockPlan&, const CountHistogram* blockHistogram)>;
  virtual void run(const std::function<bool(BlockPlan&)>& next, const CountSink* sink,
                   CountHistogram* histogram, const Finished& finished) = 0;
};

}  // namespace arith
