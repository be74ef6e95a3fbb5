// Rank 0's standard output, taken straight from the launcher. Open MPI hands
// each rank a pseudo-terminal and copies what arrives there to mpirun's own
// standard output, dropping any write that fails: a full disk or a closed
// pipe would go unseen, and a lost report be ended with a success. Where
// mpirun is rank 0's parent, rank 0 takes a duplicate of mpirun's standard
// output itself (pidfd_getfd, the same open file, offset and all), so that
// every failure to write the report is its own to see and report. Its
// standard error likewise, so that its last line reaches the caller when a
// signal stops mpirun and the run alike.
#pragma once

namespace arith {

// Makes the parent launcher's standard output and error this process's own. Returns
// false, changing nothing, where the parent is no launcher or the kernel
// does not allow it (the report is then forwarded as before).
bool adoptLauncherOutput();

}  // namespace arith
