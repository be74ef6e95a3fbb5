#include "census/pairs_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "census/work_file.hpp"

namespace census {

PairsFile::PairsFile(std::string path) : path_(std::move(path)), buffer_(new char[kCapacity]) {}

PairsFile::~PairsFile() { close(); }

void PairsFile::open() {
  close();
  reason_.clear();
  records_ = 0;
  checksums_.clear();
  used_ = 0;
  const OpenedFile opened = openWorkFileForWriting(path_);
  if (opened.fd < 0) {
    errno = 0;
    fail(opened.problem.c_str());
    return;
  }
  file_ = ::fdopen(opened.fd, "wb");
  if (file_ == nullptr) {
    fail("creation impossible");
    ::close(opened.fd);
  }
}

void PairsFile::record(common::Int64 ns, common::Int64 N) {
  if (records_ % kChunk == 0) checksums_.push_back(0);
  checksums_.back() += recordShare(ns, N);
  ++records_;
  if (file_ == nullptr) return;
  // Straight into the buffer: a record is at most 42 bytes.
  if (used_ + 48 > kCapacity) spill();
  char* at = buffer_.get() + used_;
  at = std::to_chars(at, at + 20, ns).ptr;
  *at++ = ' ';
  value_.moveTo(N);
  std::memcpy(at, value_.padded(), DecimalCounter::kCapacity);  // room: 48 bytes were checked
  at += value_.length();
  *at++ = ' ';
  used_ = static_cast<std::size_t>(at - buffer_.get());
}

void PairsFile::spill() {
  if (file_ == nullptr || used_ == 0) return;
  errno = 0;
  const std::size_t written = std::fwrite(buffer_.get(), 1, used_, file_);
  if (written != used_ || std::fflush(file_) != 0) fail("ecriture impossible");
  used_ = 0;
}

void PairsFile::close() {
  if (file_ == nullptr) return;
  spill();  // a failure there closes the file already
  if (file_ == nullptr) return;
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail("fermeture impossible");
}

void PairsFile::fail(const char* what) {
  const int error = errno;
  if (reason_.empty()) {
    reason_ = what;
    if (error != 0) reason_ += std::string(" (") + std::strerror(error) + ")";
  }
  // Nothing more is written: a partial file is no use to the listing.
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  used_ = 0;
}

}  // namespace census
