#include "census/report/progress_line.hpp"

#include <algorithm>
#include <cstdio>

namespace census {

namespace {
constexpr auto kQuietStart = std::chrono::seconds(1);  // short calculations show nothing
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr auto kLogEvery = std::chrono::seconds(10);
}  // namespace

ProgressLine::ProgressLine(std::ostream& err, Style style) : err_(err), style_(style) {}

void ProgressLine::start(double plannedSeconds) {
  shown_ = false;
  planned_ = plannedSeconds;
  started_ = Clock::now();
  // A log's first line comes after the quiet start, the next ones every kLogEvery.
  lastDrawn_ = style_ == Style::Log ? started_ - kLogEvery : started_;
}

double ProgressLine::secondsLeft(double done, double elapsed, double planned) {
  if (planned <= 0) return done > 0.001 ? elapsed * (1.0 - done) / done : -1;
  const double weight = 0.1 * planned;
  const double pace = (elapsed + weight) / (planned * done + weight);
  return std::max(0.0, planned * (1.0 - done) * pace);
}

void ProgressLine::update(double done) {
  if (style_ == Style::Off) return;
  const auto now = Clock::now();
  const auto every = style_ == Style::Log ? std::chrono::duration_cast<Clock::duration>(kLogEvery)
                                          : std::chrono::duration_cast<Clock::duration>(kRedrawEvery);
  if (now - started_ < kQuietStart || now - lastDrawn_ < every) return;
  lastDrawn_ = now;
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  const double left = secondsLeft(done, elapsed, planned_);
  const char* start = style_ == Style::Terminal ? "\r" : "";
  const char* end = style_ == Style::Terminal ? "   " : "\n";
  char line[96];
  if (left >= 0) {
    std::snprintf(line, sizeof line, "%s  %5.1f %%   reste environ %.0f s%s", start, 100.0 * done, left, end);
  } else {
    std::snprintf(line, sizeof line, "%s  %5.1f %%%s", start, 100.0 * done, end);
  }
  err_ << line;
  err_.flush();
  shown_ = style_ == Style::Terminal;
}

void ProgressLine::finish() {
  if (!shown_) return;
  err_ << "\r\033[K";  // back to the start of the line, and clear it
  err_.flush();
  shown_ = false;
}

}  // namespace census
