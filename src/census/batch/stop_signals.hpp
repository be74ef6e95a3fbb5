// SIGINT and SIGTERM for a batch census: a batch queue's time limit or a
// Ctrl-C must leave the checkpoint file with every finished range, then end
// the process with 128 + the signal's number, within moments, whatever the
// counting threads are doing. The signals are blocked in every thread and
// taken by one thread of their own (sigwait), which may lock and write files
// as no signal handler may.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace census {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
  // it starts afterwards. To be called before any other thread exists.
  static void block();
  // Lets them act as before in the calling thread.
  static void unblock();

  // Starts the thread that waits for them: on one, calls `last` with the
  // signal's number (it writes what must outlive the process and returns a
  // line for standard error, or nothing), writes that line, then ends the process.
  explicit StopSignals(std::function<std::string(int)> last);
  // From then on a signal ends the process without calling `last`.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace census
