// Runs one task per thread and waits for all of them.
#pragma once

#include <thread>
#include <vector>

namespace arith {

// Calls task(t) for t = 0 .. threads - 1, each on its own thread (t = 0 on the caller's).
template <class Task>
void runParallel(unsigned threads, const Task& task) {
  std::vector<std::jthread> helpers;
  helpers.reserve(threads > 0 ? threads - 1 : 0);
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back([&task, t] { task(t); });
  task(0u);
}

}  // namespace arith
