// Threads sharing a task: a failure in any of them reaches the caller; the
// large arrays they share come zeroed, faulted in at once or touched.
#include "arith/blocks/parallel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "arith/blocks/zeroed_pages.hpp"

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

TEST(ZeroedPages, ZeroWritableToTheLastByteFaultedInOrNot) {
  const std::size_t bytes = (std::size_t{5} << 20) + 123;  // past a whole number of huge pages
  arith::ZeroedPages pages(bytes);
  EXPECT_FALSE(pages.populate(1, 4096));  // a start off a page is refused, not rounded
  // Populated where the kernel can, the rest touched: zero either way.
  pages.populate(0, std::size_t{2} << 20);
  std::uint8_t* data = pages.data();
  EXPECT_TRUE(std::all_of(data, data + bytes, [](std::uint8_t b) { return b == 0; }));
  std::fill(data, data + bytes, std::uint8_t{0xa5});
  EXPECT_EQ(data[bytes - 1], 0xa5);
}

}  // namespace
