// The MPI layer: one process per rank, rank 0 holding the dialogue and the
// others serving blocks of the arithmetic until rank 0 ends the run. Built
// only with -DSIGMA_MPI=ON.
//
// Rank 0 hands the planned blocks out one at a time, the next to whichever
// rank is free; each rank counts its block with its own threads and sends
// back the block's histogram, or its counts in order of value when the
// listing needs them. Rank 0 takes the counts of the blocks in order, so
// NN.txt is written as one process writes it.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "arith/block_runner.hpp"
#include "arith/divisor_arithmetic.hpp"

namespace arith {

class RankSession : public BlockRunner {
 public:
  RankSession(int* argc, char*** argv);  // MPI_Init_thread
  ~RankSession() override;               // MPI_Finalize
  RankSession(const RankSession&) = delete;
  RankSession& operator=(const RankSession&) = delete;

  bool holdsDialogue() const { return rank_ == 0; }
  int ranks() const { return size_; }
  unsigned ranksOnThisMachine() const { return local_; }
  unsigned threadsPerRank() const;

  // A serving rank: runs the blocks rank 0 sends until it says stop.
  void serve(DivisorArithmetic& arithmetic);
  // Rank 0, at the end of the run: the serving ranks stop.
  void stopServing();
  // Rank 0, when a calculation failed: every rank ends at once, with `status`.
  [[noreturn]] void abort(int status);

  unsigned parallelBlocks() const override { return static_cast<unsigned>(size_ - 1); }
  void run(const std::function<bool(BlockPlan&)>& next, const CountSink* sink, CountHistogram* histogram,
           const Finished& finished, const Recount* recount) override;

 private:
  // A block handed to `rank`; with the double check, its sample's counts as
  // that rank claimed them, then as `checker` recounted them.
  struct Job {
    BlockPlan block;
    int rank = 0;
    int checker = -1;  // while -1, the job is the block itself
    CountHistogram histogram;
    std::vector<common::Count> claimed;
    std::vector<common::Count> recounted;
  };
  struct Jobs {
    std::deque<Job> pending;    // handed out, in increasing order of value
    std::deque<Job> unchecked;  // counted, waiting for a rank to recount their sample
    std::vector<int> idle;
  };
  class BlockQueue;
  static BlockSample sampleOf(const Job& job);
  void handOut(Jobs& jobs, BlockQueue& queue, std::uint64_t task, bool sample);
  Job collectCounts(std::deque<Job>& pending, const CountSink& sink);
  Job collectHistogram(std::deque<Job>& pending);
  void send(const BlockPlan& block, std::uint64_t task, bool sample, int rank);
  void receiveCounts(int rank, const CountSink& sink);
  void receiveHistogram(int rank, CountHistogram& histogram);
  [[noreturn]] void failed(int rank);
  void takeLeaderCores(MPI_Comm machine);

  int rank_ = 0;
  int size_ = 1;
  unsigned local_ = 1;
  bool withLeader_ = false;  // rank 0 runs on this machine
  unsigned cores_ = 0;       // the cores this rank may run on (0: not known)
};

}  // namespace arith
