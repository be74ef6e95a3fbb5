// Runs one task per thread and waits for all of them.
#pragma once

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace arith {

// Calls task(t) for t = 0 .. threads - 1, each on its own thread (t = 0 on the
// caller's). An exception thrown by any task (memory running out, say) reaches
// the caller once every thread has ended; the first one thrown wins.
template <class Task>
void runParallel(unsigned threads, const Task& task) {
  std::exception_ptr failure;
  std::mutex failureLock;
  auto guarded = [&](unsigned t) {
    try {
      task(t);
    } catch (...) {
      const std::scoped_lock lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(threads > 0 ? threads - 1 : 0);
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(guarded, t);
    guarded(0u);
  }  // joins the helpers
  if (failure) std::rethrow_exception(failure);
}

}  // namespace arith
