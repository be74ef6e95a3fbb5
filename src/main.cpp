// Parses the command line, binds the standard streams, runs the dialogue or
// one batch census, and returns the exit status. In the MPI build, rank 0
// holds the dialogue or the batch census and the other ranks serve blocks.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "arith/divisor_arithmetic.hpp"
#include "census/batch/batch_census.hpp"
#include "census/batch/command_line.hpp"
#include "census/batch/preimage_listing.hpp"
#include "census/batch/standard_descriptors.hpp"
#include "census/batch/stop_signals.hpp"
#include "census/dialogue/census.hpp"
#include "console/console.hpp"
#ifdef SIGMA_MPI
#include "arith/mpi/launcher_output.hpp"
#include "arith/mpi/rank_session.hpp"
#endif

namespace {

#ifdef SIGMA_MPI
constexpr auto kServingRankGrace = std::chrono::seconds(30);
#endif

census::ProgressLine::Style progressStyle(bool asked) {
  if (isatty(STDERR_FILENO) == 1) return census::ProgressLine::Style::Terminal;
  return asked ? census::ProgressLine::Style::Log : census::ProgressLine::Style::Off;
}

// The dialogue, or the batch census, as the command line asks.
int runProgram(const census::CommandLine& line, arith::DivisorArithmetic& arithmetic) {
  const auto style = progressStyle(line.progress);
  if (line.action == census::CommandLine::Action::Batch) {
    census::BatchCensus batch(line, arithmetic, std::cout, std::cerr, style);
    return batch.run();
  }
  if (line.action == census::CommandLine::Action::Preimages) {
    census::PreimageListing listing(arithmetic, std::cout, std::cerr);
    return listing.run(line.S, line.format);
  }
  // The dialogue takes SIGINT and SIGTERM as any program does.
  census::StopSignals::unblock();
  console::Console console(std::cin, std::cout);
  census::Census census(console, arithmetic, std::cout, std::cerr, style);
  return census.main();
}

}  // namespace

int main(int argc, char** argv) {
  census::guardStandardDescriptors();
  std::ios::sync_with_stdio(false);
  // Before any thread starts: a batch census takes these signals in a thread of its own.
  census::StopSignals::block();
#ifdef SIGMA_MPI
  arith::RankSession session(&argc, &argv);
  std::ostream quiet(nullptr);  // only rank 0 speaks about the command line
  const census::CommandLine line = census::parseCommandLine(
      argc, argv, session.holdsDialogue() ? std::cout : quiet, session.holdsDialogue() ? std::cerr : quiet);
  if (line.action == census::CommandLine::Action::Exit) return line.exitStatus;
  arith::DivisorArithmetic arithmetic(line.threads != 0 ? line.threads : session.threadsPerRank(),
                                      line.memoryCap, session.ranksOnThisMachine());
  if (!session.holdsDialogue()) {
    // mpirun sends SIGTERM to every rank at once: a serving rank waits, so
    // that rank 0 sees no broken link while it saves the checkpoint and says
    // so (its fsync can take seconds on a busy disk). The launcher ends the
    // serving ranks as soon as rank 0 is gone.
    const census::StopSignals stop([](int) {
      std::this_thread::sleep_for(kServingRankGrace);
      return std::string();
    });
    session.serve(arithmetic);
    return 0;
  }
  if (session.ranks() > 1) arithmetic.setBlockRunner(&session);
  arith::adoptLauncherOutput();
  const int status = runProgram(line, arithmetic);
  // A failed calculation may leave ranks in the middle of a block.
  if (status == census::Census::kFailed || status == census::kDoubleCheckFailed) session.abort(status);
  session.stopServing();
  return status;
#else
  const census::CommandLine line = census::parseCommandLine(argc, argv, std::cout, std::cerr);
  if (line.action == census::CommandLine::Action::Exit) return line.exitStatus;
  arith::DivisorArithmetic arithmetic(line.threads, line.memoryCap);
  return runProgram(line, arithmetic);
#endif
}
