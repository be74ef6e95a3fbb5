#include "census/batch/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace census {

namespace {

sigset_t stopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

// What the waiting thread shares with its owner; it outlives the owner, since
// the thread is never joined (it waits until the process ends).
struct StopSignals::Shared {
  std::mutex lock;
  std::function<std::string(int)> last;  // empty once the owner is gone
};

void StopSignals::block() {
  const sigset_t set = stopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopSignals::unblock() {
  const sigset_t set = stopSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

StopSignals::StopSignals(std::function<std::string(int)> last) : shared_(std::make_shared<Shared>()) {
  shared_->last = std::move(last);
  std::thread([shared = shared_] {
    const sigset_t set = stopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    {
      const std::scoped_lock hold(shared->lock);
      // Straight to the descriptor: one write, whatever the streams are doing.
      const std::string line = shared->last ? shared->last(signal) : std::string();
      if (!line.empty() && ::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Standard error is gone: the status alone says what happened.
      }
    }
    // No destructors, no buffered output: every thread stops where it stands.
    ::_exit(128 + signal);
  }).detach();
}

StopSignals::~StopSignals() {
  const std::scoped_lock hold(shared_->lock);
  shared_->last = nullptr;
}

}  // namespace census
