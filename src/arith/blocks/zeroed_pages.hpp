// A large zero-filled array taken straight from the kernel. In small pages:
// on the reference machine (a virtual one) the kernel cleared huge pages at
// anywhere from 10 GB/s down to 0.4 GB/s, slowest after another program had
// freed much memory, while small pages came at a steady 2 GB/s; [1, 10^9] took
// 5.6-6.0 s in small pages against 6.3 s in huge ones.
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
