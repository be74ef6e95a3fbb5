#include "arith/blocks/zeroed_pages.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#include "common/check.hpp"

namespace arith {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

// In whole huge pages: the kernel then places the array on a huge page's
// boundary, and its last piece is not left to small pages.
ZeroedPages::ZeroedPages(std::size_t bytes)
    : bytes_((std::max<std::size_t>(bytes, 1) + kHugePage - 1) / kHugePage * kHugePage) {
  void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<std::uint8_t*>(p);
  // Only advice: where the kernel has no huge pages to give, small ones come.
  madvise(p, bytes_, MADV_HUGEPAGE);
}

ZeroedPages::~ZeroedPages() { munmap(data_, bytes_); }

bool ZeroedPages::populate(std::size_t from, std::size_t bytes) {
  SIGMA_ASSERT(from <= bytes_ && bytes <= bytes_ - from);
#ifdef MADV_POPULATE_WRITE
  return madvise(data_ + from, bytes, MADV_POPULATE_WRITE) == 0;
#else
  return false;
#endif
}

}  // namespace arith
