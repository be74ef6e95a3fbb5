#include "census/report/report_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "census/report/texts.hpp"

namespace census {

namespace {
constexpr std::size_t kLongestNumber = 20;  // "-9223372036854775808"
constexpr std::size_t kEndRoom = 8;         // texts::kValueEnd, with room to spare
static_assert(texts::kValueEnd.size() <= kEndRoom);
}  // namespace

ReportWriter::ReportWriter(std::ostream& out) : out_(out), buffer_(new char[kCapacity]) {}

ReportWriter::~ReportWriter() { spill(); }

ReportWriter& ReportWriter::operator<<(std::string_view text) {
  if (used_ + text.size() > kCapacity) spill();
  if (text.size() > kCapacity) {
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    return *this;
  }
  std::copy(text.begin(), text.end(), buffer_.get() + used_);
  used_ += text.size();
  return *this;
}

ReportWriter& ReportWriter::operator<<(common::Int64 number) {
  if (used_ + kLongestNumber > kCapacity) spill();
  used_ = static_cast<std::size_t>(
      std::to_chars(buffer_.get() + used_, buffer_.get() + kCapacity, number).ptr - buffer_.get());
  return *this;
}

void ReportWriter::value(common::Int64 number) {
  // The hot path of a listing: one room check for the number and its ending.
  if (used_ + kLongestNumber + texts::kValueEnd.size() > kCapacity) spill();
  char* end = std::to_chars(buffer_.get() + used_, buffer_.get() + kCapacity, number).ptr;
  std::memcpy(end, texts::kValueEnd.data(), texts::kValueEnd.size());
  used_ = static_cast<std::size_t>(end + texts::kValueEnd.size() - buffer_.get());
}

void ReportWriter::value(const DecimalCounter& number) {
  // Copies of fixed sizes: the number's whole buffer, then the ending.
  if (used_ + DecimalCounter::kCapacity + kEndRoom > kCapacity) spill();
  char* at = buffer_.get() + used_;
  std::memcpy(at, number.padded(), DecimalCounter::kCapacity);
  at += number.length();
  std::memcpy(at, texts::kValueEnd.data(), texts::kValueEnd.size());
  used_ = static_cast<std::size_t>(at + texts::kValueEnd.size() - buffer_.get());
}

void ReportWriter::spill() {
  if (used_ != 0) out_.write(buffer_.get(), static_cast<std::streamsize>(used_));
  used_ = 0;
}

void ReportWriter::flush() {
  spill();
  out_.flush();
}

}  // namespace census
