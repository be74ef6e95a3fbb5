// A one-line progress indicator on a terminal: percent done and time left.
#pragma once

#include <chrono>
#include <ostream>

namespace census {

class ProgressLine {
 public:
  // Shows nothing at all unless `enabled` (standard error is a terminal).
  ProgressLine(std::ostream& err, bool enabled);

  void start();
  void update(double done);  // fraction of the work done, 0 to 1
  void finish();             // erases the line, if one was shown

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point started_;
  Clock::time_point lastDrawn_;
};

}  // namespace census
