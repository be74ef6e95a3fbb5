// A large zero-filled array taken straight from the kernel, in huge pages
// where the kernel allows: a block of counts spans hundreds of megabytes, and
// faulting it in 4 KiB at a time costs more than counting into it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace arith {

class ZeroedPages {
 public:
  explicit ZeroedPages(std::size_t bytes);
  ~ZeroedPages();
  ZeroedPages(const ZeroedPages&) = delete;
  ZeroedPages& operator=(const ZeroedPages&) = delete;

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }

 private:
  std::uint8_t* data_;
  std::size_t bytes_;
};

}  // namespace arith
