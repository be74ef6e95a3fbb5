// Assumptions the code rests on, checked in Debug builds (NDEBUG unset) and
// free in Release builds. A failed check names the file, the line and the
// assumption, then aborts: a wrong count must never be printed as if true.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace common {

[[noreturn]] inline void checkFailed(const char* assumption, const char* file, int line) {
  std::fprintf(stderr, "sigma-census: %s:%d: assumption broken: %s\n", file, line, assumption);
  std::abort();
}

}  // namespace common

#ifdef NDEBUG
#define SIGMA_ASSERT(condition) static_cast<void>(0)
#else
#define SIGMA_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : ::common::checkFailed(#condition, __FILE__, __LINE__))
#endif
