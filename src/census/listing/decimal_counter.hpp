// The decimal text of a number that goes up by one at a time: the pairs
// file holds the values of an interval in order, so each one's text is the
// last one's with a carry, far cheaper than a conversion.
#pragma once

#include <charconv>
#include <string_view>

#include "common/widths.hpp"

namespace census {

class DecimalCounter {
 public:
  void set(common::Int64 number) {
    number_ = number;
    const auto end = std::to_chars(digits_, digits_ + sizeof digits_, number).ptr;
    length_ = static_cast<int>(end - digits_);
  }
  // The next number; at the largest one, the text is formed anew.
  void increment() {
    if (number_ == common::kLargestBound) return;
    ++number_;
    int k = length_ - 1;
    while (k >= 0 && digits_[k] == '9') digits_[k--] = '0';
    if (k >= 0) {
      ++digits_[k];
    } else {
      set(number_);  // 9...9 + 1: one more digit
    }
  }
  // Moves to `number`: a step of one is a carry, anything else a conversion.
  void moveTo(common::Int64 number) {
    if (number - 1 == number_) {
      increment();
    } else {
      set(number);
    }
  }
  common::Int64 number() const { return number_; }
  std::string_view text() const { return {digits_, static_cast<std::size_t>(length_)}; }
  // The text and kCapacity - length() bytes after it: a copy of a fixed size
  // is a few moves, where one of the text's own length is a call.
  static constexpr std::size_t kCapacity = 24;
  const char* padded() const { return digits_; }
  std::size_t length() const { return static_cast<std::size_t>(length_); }

 private:
  char digits_[kCapacity] = {'0'};
  int length_ = 1;
  common::Int64 number_ = 0;
};

}  // namespace census
