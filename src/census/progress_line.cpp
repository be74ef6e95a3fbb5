#include "census/progress_line.hpp"

#include <cstdio>

namespace census {

namespace {
constexpr auto kQuietStart = std::chrono::seconds(1);  // short calculations show nothing
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
}  // namespace

ProgressLine::ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

void ProgressLine::start() {
  shown_ = false;
  started_ = Clock::now();
  lastDrawn_ = started_;
}

void ProgressLine::update(double done) {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (now - started_ < kQuietStart || now - lastDrawn_ < kRedrawEvery) return;
  lastDrawn_ = now;
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  char line[96];
  if (done > 0.001) {
    const double left = elapsed * (1.0 - done) / done;
    std::snprintf(line, sizeof line, "\r  %5.1f %%   reste environ %.0f s   ", 100.0 * done, left);
  } else {
    std::snprintf(line, sizeof line, "\r  %5.1f %%   ", 100.0 * done);
  }
  err_ << line;
  err_.flush();
  shown_ = true;
}

void ProgressLine::finish() {
  if (!shown_) return;
  err_ << "\r\033[K";  // back to the start of the line, and clear it
  err_.flush();
  shown_ = false;
}

}  // namespace census
