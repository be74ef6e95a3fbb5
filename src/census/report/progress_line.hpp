// Progress of a long calculation on standard error: percent done and time
// left. On a terminal, one line redrawn in place and erased at the end; for
// a batch job's log, a line every 10 s or so, never erased.
//
// The time left is the planned cost of the work left, corrected by the
// measured pace: pace = (elapsed + w) / (planned done + w), w a tenth of the
// whole plan, so that the first minutes lean on the plan (whose blocks may
// cost per value what later ones do not) and the end on the measurement.
#pragma once

#include <chrono>
#include <ostream>

namespace census {

class ProgressLine {
 public:
  enum class Style { Off, Terminal, Log };
  ProgressLine(std::ostream& err, Style style);

  // `plannedSeconds`: the plan's estimate of the whole calculation (0: none).
  void start(double plannedSeconds = 0);
  void update(double done);                              // fraction of the work done, 0 to 1
  void finish();                                         // erases the terminal's line, if one was shown
  bool enabled() const { return style_ != Style::Off; }  // whether any progress is shown

  // The seconds left after `elapsed` seconds with `done` of a plan of `planned` seconds.
  static double secondsLeft(double done, double elapsed, double planned);

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  Style style_;
  bool shown_ = false;
  double planned_ = 0;
  Clock::time_point started_;
  Clock::time_point lastDrawn_;
};

}  // namespace census
