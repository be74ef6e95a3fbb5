#include "arith/blocks/zeroed_pages.hpp"

#include <sys/mman.h>

#include <new>

namespace arith {

ZeroedPages::ZeroedPages(std::size_t bytes, Size pages) : bytes_(bytes == 0 ? 1 : bytes) {
  void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<std::uint8_t*>(p);
  // Only advice: where the kernel has no huge pages to give, small ones come.
  if (pages == Size::Huge) madvise(p, bytes_, MADV_HUGEPAGE);
}

ZeroedPages::~ZeroedPages() { munmap(data_, bytes_); }

}  // namespace arith
