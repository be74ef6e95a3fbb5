#include "census/listing/pairs_reader.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "census/listing/decimal_counter.hpp"
#include "census/listing/work_file.hpp"
#include "common/check.hpp"

namespace census {

using common::Int64;

namespace {

// The longest field the writer writes: 9223372036854775807 has 19 digits.
constexpr std::ptrdiff_t kLongestField = 19;
// The longest record: two fields, each followed by a space. A partial record
// carried over to the next read is shorter, so it always fits the spare room.
constexpr std::size_t kLongestRecord = 2 * (kLongestField + 1);
constexpr std::size_t kRead = std::size_t{1} << 20;
constexpr std::size_t kSpare = 64;
static_assert(kLongestRecord < kSpare);

// Reads one decimal number followed by one space at `p`, as the writer puts
// it: digits only, no leading zero, at most 19 digits, below 2^63. Returns the
// position after the space, `p` itself when the number may go on past the
// bytes at hand, or nullptr when the bytes are not such a number.
const char* parseField(const char* p, const char* end, Int64& number) {
  constexpr Int64 kTenth = common::kLargestBound / 10;
  const char* start = p;
  number = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    if (p - start == kLongestField) return nullptr;
    const Int64 d = *p - '0';
    if (number > kTenth || (number == kTenth && d > common::kLargestBound % 10)) return nullptr;
    number = number * 10 + d;
  }
  if (p == end) return start;
  if (*p != ' ' || p == start || (*start == '0' && p - start > 1)) return nullptr;
  return p + 1;
}

// Whether the bytes at p begin with `text`: a short loop, where a call to
// compare a dozen bytes would cost more than the comparison.
bool sameText(const char* p, std::string_view text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (p[k] != text[k]) return false;
  }
  return true;
}

// The state of one read-back: the records checked so far.
class Reader {
 public:
  Reader(const PairsFile& writer, Int64 L1, Int64 L2, const arith::CountSink& sink)
      : writer_(writer), L1_(L1), total_(L2 - L1 + 1), sink_(sink) {
    chunk_.reserve(static_cast<std::size_t>(PairsFile::kChunk));
    expected_.set(L1);
  }

  ReadOutcome run();

 private:
  const char* parseRecords(const char* p, const char* end);
  bool acceptRecord(Int64 count);
  ReadOutcome outcome(bool complete) const;

  const PairsFile& writer_;
  Int64 L1_;
  Int64 total_;
  const arith::CountSink& sink_;
  std::vector<common::Count> chunk_;  // counts of the run being read
  Int64 read_ = 0;                    // records read
  std::uint64_t checksum_ = 0;
  DecimalCounter expected_;  // the value the next record must hold
  std::string problem_;      // why the file cannot be used, once it cannot
};

ReadOutcome Reader::outcome(bool complete) const {
  return {complete, L1_ + (read_ - static_cast<Int64>(chunk_.size())), problem_};
}

ReadOutcome Reader::run() {
  const OpenedFile opened = openWorkFileForReading(writer_.path());
  if (opened.fd < 0) return {false, L1_, opened.problem};
  std::FILE* file = ::fdopen(opened.fd, "rb");
  if (file == nullptr) {
    ::close(opened.fd);
    return {false, L1_, std::string("relecture impossible (") + std::strerror(errno) + ")"};
  }
  std::vector<char> buffer(kRead + kSpare);
  std::size_t held = 0;  // bytes in the buffer: a partial record, shorter than kSpare
  bool ended = false;
  while (problem_.empty() && !ended) {
    SIGMA_ASSERT(held < kSpare);
    const std::size_t got = std::fread(buffer.data() + held, 1, kRead, file);
    if (got < kRead) {
      if (std::ferror(file) != 0) {
        problem_ = std::string("lecture impossible (") + std::strerror(errno) + ")";
        break;
      }
      ended = true;
    }
    held += got;
    const char* end = buffer.data() + held;
    const char* p = parseRecords(buffer.data(), end);
    held = static_cast<std::size_t>(end - p);
    std::memmove(buffer.data(), p, held);
  }
  std::fclose(file);
  if (problem_.empty() && (read_ < total_ || held > 0)) problem_ = "fichier tronque";
  if (!problem_.empty()) return outcome(false);
  sink_(L1_ + (read_ - static_cast<Int64>(chunk_.size())), chunk_);
  return outcome(true);
}

// Checks the records in [p, end); returns where the first partial record begins.
const char* Reader::parseRecords(const char* p, const char* end) {
  while (p < end) {
    if (read_ == total_) {
      problem_ = "donnees en trop en fin de fichier";
      return p;
    }
    Int64 count = 0;
    const char* afterCount = parseField(p, end, count);
    if (afterCount == nullptr) {
      problem_ = "enregistrement mal forme";
      return p;
    }
    // The value must be the next of the interval, written as the writer
    // writes it: compared as text, with the space after it.
    const std::string_view value = expected_.text();
    if (afterCount == p || end - afterCount <= static_cast<std::ptrdiff_t>(value.size()))
      return p;  // in the next read
    if (!sameText(afterCount, value) || afterCount[value.size()] != ' ') {
      problem_ = "valeurs hors de leur suite";
      return p;
    }
    if (!acceptRecord(count)) return p;
    p = afterCount + value.size() + 1;
  }
  return p;
}

// Adds a record to its run; a run is handed on only once its checksum
// matches, and the last one only once the end of the file is seen too.
bool Reader::acceptRecord(Int64 count) {
  checksum_ += recordShare(count, expected_.number());
  expected_.increment();
  chunk_.push_back(count);
  ++read_;
  if (chunk_.size() < static_cast<std::size_t>(PairsFile::kChunk) && read_ < total_) return true;
  const auto& checksums = writer_.chunkChecksums();
  const auto run = static_cast<std::size_t>((read_ - 1) / PairsFile::kChunk);
  if (run >= checksums.size() || checksum_ != checksums[run]) {
    problem_ = "contenu modifie apres ecriture";
    return false;
  }
  if (read_ < total_) {
    sink_(L1_ + (read_ - static_cast<Int64>(chunk_.size())), chunk_);
    chunk_.clear();
    checksum_ = 0;
  }
  return true;
}

}  // namespace

ReadOutcome readPairsFile(const PairsFile& writer, Int64 L1, Int64 L2, const arith::CountSink& sink) {
  return Reader(writer, L1, L2, sink).run();
}

}  // namespace census
