#include "census/report_writer.hpp"

#include <charconv>

namespace census {

namespace {
constexpr std::size_t kSpillAt = std::size_t{1} << 16;
}

ReportWriter::ReportWriter(std::ostream& out) : out_(out) { buffer_.reserve(kSpillAt + 64); }

ReportWriter::~ReportWriter() { spill(); }

ReportWriter& ReportWriter::operator<<(std::string_view text) {
  buffer_.append(text);
  if (buffer_.size() >= kSpillAt) spill();
  return *this;
}

ReportWriter& ReportWriter::operator<<(common::Int64 number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

void ReportWriter::spill() {
  if (!buffer_.empty()) out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
}

void ReportWriter::flush() {
  spill();
  out_.flush();
}

}  // namespace census
