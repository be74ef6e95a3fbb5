#include "arith/mpi/launcher_output.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

namespace arith {

namespace {

bool parentIsLauncher() {
  std::ifstream in("/proc/" + std::to_string(::getppid()) + "/comm");
  std::string name;
  if (!std::getline(in, name)) return false;
  constexpr std::array<std::string_view, 5> kLaunchers = {"mpirun", "mpiexec", "orterun", "prterun", "prte"};
  return std::ranges::any_of(kLaunchers, [&](std::string_view launcher) { return name == launcher; });
}

}  // namespace

bool adoptLauncherOutput() {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_getfd)
  if (!parentIsLauncher()) return false;
  const auto pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ::getppid(), 0));
  if (pidfd < 0) return false;
  // Standard error too: the last line of a run stopped by a signal must reach
  // the caller while mpirun, stopped by the same signal, forwards no more.
  bool adopted = true;
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    const auto output = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, fd, 0));
    if (output < 0) {
      adopted = false;
      break;
    }
    adopted = ::dup2(output, fd) == fd;
    ::close(output);
    if (!adopted) break;
  }
  ::close(pidfd);
  return adopted;
#else
  return false;
#endif
}

}  // namespace arith
