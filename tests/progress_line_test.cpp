// The progress line: on a terminal, in a log, or nowhere; and its estimate of the time left.
#include "census/report/progress_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>

namespace {

// On a terminal the line shows after a second and is erased at the end; in
// a log, lines are never erased, at most one every 10 s; off, nothing.
TEST(ProgressLine, ShownOnATerminalAfterASecondAndErasedLoggedOrNotShown) {
  std::ostringstream quiet;
  census::ProgressLine off(quiet, census::ProgressLine::Style::Off);
  std::ostringstream shown;
  census::ProgressLine on(shown, census::ProgressLine::Style::Terminal);
  std::ostringstream log;
  census::ProgressLine logged(log, census::ProgressLine::Style::Log);
  off.start();
  on.start();
  logged.start(20);
  on.update(0.5);  // too early: nothing yet
  EXPECT_EQ(shown.str(), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  for (census::ProgressLine* line : {&off, &on, &logged}) line->update(0.5);
  logged.update(0.6);  // within 10 s of the last line: nothing
  EXPECT_NE(shown.str().find("50.0 %"), std::string::npos);
  EXPECT_NE(shown.str().find("reste"), std::string::npos);
  for (census::ProgressLine* line : {&off, &on, &logged}) line->finish();
  EXPECT_EQ(shown.str().substr(shown.str().size() - 4), "\r\033[K");
  EXPECT_EQ(quiet.str(), "");
  const std::string text = log.str();
  EXPECT_EQ(text.substr(0, 9), "   50.0 %");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.find("\033"), std::string::npos);
}

TEST(ProgressLine, TimeLeftLeansOnThePlanFirstThenOnThePace) {
  using census::ProgressLine;
  // Nothing done yet: the plan's whole estimate.
  EXPECT_DOUBLE_EQ(ProgressLine::secondsLeft(0, 0, 100), 100);
  // On plan: the plan's estimate of what is left.
  EXPECT_NEAR(ProgressLine::secondsLeft(0.5, 50, 100), 50, 1e-9);
  // A first block twice as dear as planned moves the estimate far less than
  // the bare ratio would (2.0 % done after 5 s: 245 s by the ratio alone).
  const double early = ProgressLine::secondsLeft(0.02, 5, 100);
  EXPECT_GT(early, 98);
  EXPECT_LT(early, 140);
  // Late in the run the measured pace decides: twice as slow, twice as long.
  EXPECT_NEAR(ProgressLine::secondsLeft(0.9, 180, 100), 10 * (180 + 10) / (90 + 10.0), 1e-9);
  // No plan: the ratio of time spent to work done.
  EXPECT_NEAR(ProgressLine::secondsLeft(0.25, 10, 0), 30, 1e-9);
}

}  // namespace
