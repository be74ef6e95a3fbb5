// One census of [L1, L2] from the command line: no question asked, the
// report in the format chosen, and with a checkpoint file every finished
// range kept, so that a run cut short by a kill, a reboot or a queue's time
// limit is taken up by the next run with the same interval and listing
// choice, whatever its threads, memory or ranks.
//
// Without the listing, the finished ranges may come in any order (the MPI
// ranks return them as they finish); each brings its histogram. With it,
// the counts come in order of value into NN.txt, and the checkpoint tells how
// far NN.txt is complete (its length and hash): the next run checks that
// part, cuts off the rest, and writes on from there. The output is written
// once everything is counted, from the histogram and NN.txt, so that it is
// byte for byte that of an uninterrupted run.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "arith/counts/count_histogram.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "census/batch/command_line.hpp"
#include "census/checkpoint/checkpoint_file.hpp"
#include "census/listing/pairs_file.hpp"
#include "census/report/progress_line.hpp"

namespace census {

class BatchCensus {
 public:
  BatchCensus(const CommandLine& line, arith::DivisorArithmetic& arithmetic, std::ostream& out,
              std::ostream& err, ProgressLine::Style progress, std::string pairsPath = "./NN.txt");

  // Runs the census and writes its result; returns the exit status (0, or
  // 3, 4, 65 or 73 as the dialogue's and the command line's statuses say). SIGINT
  // and SIGTERM must be blocked in the calling thread (StopSignals::block).
  int run();

 private:
  using Clock = std::chrono::steady_clock;
  bool takeCheckpoint();
  bool refuseCheckpoint(const std::string& problem);
  bool proveCheckpointWritable();
  void sayResumed();
  bool staleCheckpoint();
  bool resumePairs();
  void countSummary();
  void countListing();
  void commitListing();
  void saveLocked(bool force);
  std::string saveOnSignal(int signal);
  void writeOutput(double seconds);
  void warn(const std::string& what);
  int failed(const std::string& what);

  const CommandLine& line_;
  arith::DivisorArithmetic& arithmetic_;
  std::ostream& out_;
  std::ostream& err_;
  ProgressLine progress_;
  PairsFile Flux;
  std::optional<CheckpointFile> checkpoint_;
  bool warnedCheckpoint_ = false;
  bool warnedPairs_ = false;

  // What the checkpoint says, and what the stop thread may save: under lock_.
  std::mutex lock_;
  CheckpointState state_;
  bool unsaved_ = false;
  bool failedSave_ = false;  // the last save failed: the file lags behind
  Clock::time_point lastSave_;

  // The listing's counts handed over since the last commit.
  arith::CountHistogram pendingNN_;
  common::Int64 committedTo_ = 0;  // the last value of the committed part (L1 - 1: none)
  common::Int64 pendingTo_ = 0;
};

}  // namespace census
