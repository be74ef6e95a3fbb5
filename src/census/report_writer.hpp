// Buffered text output of the report: many short pieces, few stream writes.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

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
  void flush();  // hands what is buffered to the stream, and flushes it

 private:
  void spill();
  std::ostream& out_;
  std::string buffer_;
};

}  // namespace census
