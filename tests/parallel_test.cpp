// Threads sharing a task: a failure in any of them reaches the caller.
#include "arith/blocks/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

namespace {

TEST(Parallel, AnExceptionInAnyThreadReachesTheCaller) {
  for (unsigned thrower : {0u, 1u, 3u}) {
    std::atomic<unsigned> ran{0};
    EXPECT_THROW(arith::runParallel(4,
                                    [&](unsigned t) {
                                      ++ran;
                                      if (t == thrower) throw std::bad_alloc();
                                    }),
                 std::bad_alloc)
        << thrower;
    EXPECT_EQ(ran.load(), 4u);  // the other threads ran to their end
  }
}

}  // namespace
