// A large zero-filled array taken straight from the kernel. In small pages by
// default: on the reference machine (a virtual one) the kernel cleared huge
// pages at anywhere from 10 GB/s down to 0.4 GB/s, slowest after another
// program had freed much memory, while small pages came at a steady 2 GB/s;
// [1, 10^9] took 5.6-6.0 s in small pages against 6.3 s in huge ones. Huge
// pages (where the kernel grants them) serve memory taken once per
// calculation and written all over: the filing's batches, whose tails jump
// between thousands of pages (near 2^40, 5 % less time a block of 2^32
// values, 17 % less a block of 2^33).
#pragma once

#include <cstddef>
#include <cstdint>

namespace arith {

class ZeroedPages {
 public:
  enum class Size { Small, Huge };
  explicit ZeroedPages(std::size_t bytes, Size pages = Size::Small);
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
