#include "census/listing/pairs_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>

#include "census/listing/work_file.hpp"

namespace census {

PairsFile::PairsFile(std::string path)
    : path_(std::move(path)), buffer_(new char[kCapacity]), hash_(XXH64_createState(), XXH64_freeState) {
  if (!hash_) throw std::bad_alloc();
  XXH64_reset(hash_.get(), 0);
}

std::uint64_t PairsFile::hash() const { return XXH64_digest(hash_.get()); }

void PairsFile::forget() {
  close();
  reason_.clear();
  records_ = 0;
  checksums_.clear();
  used_ = 0;
  bytes_ = 0;
  XXH64_reset(hash_.get(), 0);
}

PairsFile::~PairsFile() { close(); }

void PairsFile::open() {
  forget();
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
  countRecord(ns, N);
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
  if (written != used_ || std::fflush(file_) != 0) {
    fail("ecriture impossible");
    return;
  }
  XXH64_update(hash_.get(), buffer_.get(), used_);
  bytes_ += used_;
  used_ = 0;
}

// A record's share of its run's checksum, and one more record.
void PairsFile::countRecord(common::Int64 ns, common::Int64 N) {
  if (records_ % kChunk == 0) checksums_.push_back(0);
  checksums_.back() += recordShare(ns, N);
  ++records_;
}

bool PairsFile::flush() {
  spill();
  return file_ != nullptr;
}

bool PairsFile::sync() {
  if (!flush()) return false;
  errno = 0;
  if (::fdatasync(::fileno(file_)) != 0) fail("ecriture impossible");
  return file_ != nullptr;
}

bool PairsFile::resume(common::Int64 first, std::int64_t records, std::uint64_t bytes, std::uint64_t hash,
                       arith::CountHistogram* tally) {
  forget();
  const OpenedFile opened = openWorkFileForResuming(path_);
  if (opened.fd < 0) {
    errno = 0;
    fail(opened.problem.c_str());
    return false;
  }
  file_ = ::fdopen(opened.fd, "r+b");
  if (file_ == nullptr) {
    ::close(opened.fd);
    fail("reprise impossible");
    return false;
  }
  arith::CountHistogram counts;
  if (!readBack(first, bytes, counts) || records_ != records || this->hash() != hash) {
    if (reason_.empty()) fail("reprise impossible : contenu modifie");
    return false;
  }
  // What an interrupted run wrote past the checkpoint is written again.
  errno = 0;
  if (::ftruncate(::fileno(file_), static_cast<off_t>(bytes)) != 0 ||
      std::fseek(file_, static_cast<long>(bytes), SEEK_SET) != 0)
    fail("reprise impossible");
  if (file_ != nullptr && tally != nullptr) tally->add(counts);
  return file_ != nullptr;
}

// Reads the first `bytes` bytes back as records of the values from `first`
// on, rebuilding the checksums and the hash as the writer made them.
bool PairsFile::readBack(common::Int64 first, std::uint64_t bytes, arith::CountHistogram& tally) {
  std::vector<char> chunk(kCapacity);
  common::Int64 field[2] = {0, 0};
  int which = 0;   // the field being read: 0 the count, 1 the value
  int digits = 0;  // in that field so far
  for (std::uint64_t left = bytes; left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    if (std::fread(chunk.data(), 1, want, file_) != want) return false;
    XXH64_update(hash_.get(), chunk.data(), want);
    left -= want;
    for (std::size_t k = 0; k < want; ++k) {
      const char c = chunk[k];
      const common::Int64 digit = c - '0';
      if (c >= '0' && c <= '9' && !(digits == 1 && field[which] == 0) &&
          field[which] <= (common::kLargestBound - digit) / 10) {
        field[which] = field[which] * 10 + digit;
        ++digits;
      } else if (c == ' ' && digits > 0) {
        digits = 0;
        if (which == 1) {
          if (records_ > common::kLargestBound - first || field[1] != first + records_ || field[0] > field[1])
            return false;
          countRecord(field[0], field[1]);
          tally.add(field[0]);
        }
        which = 1 - which;
        field[which] = 0;
      } else {
        return false;
      }
    }
  }
  bytes_ = bytes;
  if (records_ > 0) value_.set(first + records_ - 1);
  return which == 0 && digits == 0;
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
