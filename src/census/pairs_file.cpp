#include "census/pairs_file.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace census {

namespace {
constexpr std::size_t kSpillAt = std::size_t{1} << 20;
}

PairsFile::PairsFile(std::string path) : path_(std::move(path)) {}

PairsFile::~PairsFile() { close(); }

void PairsFile::open() {
  close();
  reason_.clear();
  records_ = 0;
  checksums_.clear();
  buffer_.clear();
  file_ = std::fopen(path_.c_str(), "wb");
  if (file_ == nullptr) fail("creation impossible");
}

void PairsFile::record(common::Int64 ns, common::Int64 N) {
  if (records_ % kChunk == 0) checksums_.push_back(kChunkSeed);
  checksums_.back() = chainRecord(checksums_.back(), ns, N);
  ++records_;
  if (file_ == nullptr) return;
  char text[48];
  char* end = std::to_chars(text, text + 20, ns).ptr;
  *end++ = ' ';
  end = std::to_chars(end, end + 20, N).ptr;
  *end++ = ' ';
  buffer_.append(text, end);
  if (buffer_.size() >= kSpillAt) spill();
}

void PairsFile::spill() {
  if (file_ == nullptr || buffer_.empty()) return;
  errno = 0;
  const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  if (written != buffer_.size() || std::fflush(file_) != 0) fail("ecriture impossible");
  buffer_.clear();
}

void PairsFile::close() {
  if (file_ == nullptr) return;
  spill();
  if (file_ != nullptr) {
    errno = 0;
    if (std::fclose(file_) != 0) {
      file_ = nullptr;
      fail("fermeture impossible");
    }
    file_ = nullptr;
  }
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
  buffer_.clear();
}

}  // namespace census
