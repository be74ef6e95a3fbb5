// Buffered text output of the report: many short pieces, few stream writes.
#pragma once

#include <memory>
#include <ostream>
#include <string_view>

#include "census/listing/decimal_counter.hpp"
#include "common/widths.hpp"

namespace census {

class ReportWriter {
 public:
  explicit ReportWriter(std::ostream& out);
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  ReportWriter& operator<<(std::string_view text);
  ReportWriter& operator<<(common::Int64 number);  // plain decimal
  void value(common::Int64 number);                // a listed value: the number, then "  -  "
  void value(const DecimalCounter& number);        // the same, from its decimal text
  void flush();                                    // hands what is buffered to the stream, and flushes it

 private:
  void spill();
  static constexpr std::size_t kCapacity = std::size_t{1} << 16;
  std::ostream& out_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

}  // namespace census
