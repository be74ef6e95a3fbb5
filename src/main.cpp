// Binds the standard streams, runs the program, returns its exit status. In
// the MPI build, rank 0 holds the dialogue and the other ranks serve blocks.
#include <unistd.h>

#include <iostream>

#include "arith/divisor_arithmetic.hpp"
#include "census/census.hpp"
#include "console/console.hpp"
#ifdef SIGMA_MPI
#include "arith/mpi/launcher_output.hpp"
#include "arith/mpi/rank_session.hpp"
#endif

namespace {

int dialogue(arith::DivisorArithmetic& arithmetic) {
  console::Console console(std::cin, std::cout);
  census::Census census(console, arithmetic, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  return census.main();
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
#ifdef SIGMA_MPI
  arith::RankSession session(&argc, &argv);
  arith::DivisorArithmetic arithmetic(session.threadsPerRank(), 0, session.ranksOnThisMachine());
  if (!session.holdsDialogue()) {
    session.serve(arithmetic);
    return 0;
  }
  if (session.ranks() > 1) arithmetic.setBlockRunner(&session);
  arith::adoptLauncherOutput();
  const int status = dialogue(arithmetic);
  // A failed calculation may leave ranks in the middle of a block.
  if (status == census::Census::kFailed) session.abort(status);
  session.stopServing();
  return status;
#else
  static_cast<void>(argc);
  static_cast<void>(argv);
  arith::DivisorArithmetic arithmetic;
  return dialogue(arithmetic);
#endif
}
