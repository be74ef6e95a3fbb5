#include "census/listing.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "census/decimal_counter.hpp"
#include "census/texts.hpp"

namespace census {

using common::Int64;

Listing::Listing(const PairsFile& writer, Int64 L1, Int64 L2, const std::vector<Int64>& NN, Recount recount,
                 Warn warn, std::size_t budget)
    : writer_(writer),
      L1_(L1),
      L2_(L2),
      NN_(NN),
      recount_(std::move(recount)),
      warn_(std::move(warn)),
      budget_(budget),
      fileBroken_(writer.failed()) {}

void Listing::list(Int64 a, ReportWriter& out) {
  const auto count = static_cast<std::size_t>(a);
  if (NN_[count] == 0) return;
  out << texts::kListingHeader;
  const Int64 kept = static_cast<Int64>(kept_.size());
  if (a > keptFirst_ && a < keptFirst_ + kept) {
    for (Int64 value : kept_[static_cast<std::size_t>(a - keptFirst_)]) out.value(value);
    std::vector<Int64>().swap(kept_[static_cast<std::size_t>(a - keptFirst_)]);
    return;
  }
  pass(a, out);
}

// Prints the values of count `first` while reading, and keeps those of the
// following counts while they fit the budget.
void Listing::pass(Int64 first, ReportWriter& out) {
  kept_.clear();
  keptFirst_ = first;
  kept_.emplace_back();  // the first count is printed, never kept
  std::size_t held = 0;
  for (auto b = static_cast<std::size_t>(first) + 1; b < NN_.size(); ++b) {
    const auto size = static_cast<std::size_t>(NN_[b]);
    if (held + size > budget_) break;
    held += size;
    kept_.emplace_back();
    kept_.back().reserve(size);
  }
  const Int64 last = first + static_cast<Int64>(kept_.size()) - 1;
  forEachRecord([&](Int64 start, std::span<const common::Count> counts) {
    for (std::size_t k = 0; k < counts.size(); ++k) {
      const Int64 value = start + static_cast<Int64>(k);  // never one past L2
      const auto count = static_cast<Int64>(counts[k]);
      if (count == first) {
        out.value(value);
      } else if (count > first && count <= last) {
        kept_[static_cast<std::size_t>(count - first)].push_back(value);
      }
    }
  });
}

void Listing::forEachRecord(const RecordSink& sink) {
  Int64 resumeAt = L1_;
  if (!fileBroken_ && readFile(sink, resumeAt)) return;
  recount_(resumeAt, sink);
}

void Listing::breakFile(const std::string& reason) {
  fileBroken_ = true;
  warn_(reason);
}

namespace {

// Reads one decimal number followed by one space at `p`, as the writer puts
// it: digits only, no leading zero, below 2^63. Returns the position after the
// space, `p` itself when the number goes on past the bytes at hand, or
// nullptr when the bytes are not such a number.
const char* parseField(const char* p, const char* end, Int64& number) {
  constexpr Int64 kTenth = common::kLargestBound / 10;
  const char* start = p;
  number = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    const Int64 d = *p - '0';
    if (number > kTenth || (number == kTenth && d > common::kLargestBound % 10)) return nullptr;
    number = number * 10 + d;
  }
  if (p == end) return start;
  if (*p != ' ' || p == start || (*start == '0' && p - start > 1)) return nullptr;
  return p + 1;
}

}  // namespace

// Reads the file, handing over each chunk of records once it is checked.
// Returns false with `resumeAt` at the first value not handed over when the
// file fails.
bool Listing::readFile(const RecordSink& sink, Int64& resumeAt) {
  errno = 0;
  std::FILE* file = std::fopen(writer_.path().c_str(), "rb");
  if (file == nullptr) {
    breakFile(std::string("relecture impossible (") + std::strerror(errno) + ")");
    return false;
  }
  const Int64 total = L2_ - L1_ + 1;
  const auto& checksums = writer_.chunkChecksums();
  constexpr std::size_t kRead = std::size_t{1} << 20;
  std::vector<char> buffer(kRead + 64);
  std::size_t held = 0;              // bytes in the buffer, a partial record first
  std::vector<common::Count> chunk;  // counts of the chunk being read
  chunk.reserve(static_cast<std::size_t>(PairsFile::kChunk));
  Int64 read = 0;  // records read
  std::uint64_t checksum = 0;
  DecimalCounter expected;  // the value the next record must hold
  expected.set(L1_);
  std::string problem;  // why the file cannot be used, once it cannot
  bool ended = false;

  while (problem.empty()) {
    const std::size_t got = ended ? 0 : std::fread(buffer.data() + held, 1, kRead, file);
    if (got < kRead) {
      if (std::ferror(file) != 0) {
        problem = std::string("lecture impossible (") + std::strerror(errno) + ")";
        break;
      }
      ended = true;
    }
    held += got;
    const char* p = buffer.data();
    const char* const end = p + held;
    while (p < end) {
      if (read == total) {
        problem = "donnees en trop en fin de fichier";
        break;
      }
      Int64 count = 0;
      const char* afterCount = parseField(p, end, count);
      if (afterCount == nullptr) {
        problem = "enregistrement mal forme";
        break;
      }
      // The value must be the next of the interval, written as the writer
      // writes it: compared as text, with the space after it.
      const std::string_view value = expected.text();
      if (afterCount == p || end - afterCount <= static_cast<std::ptrdiff_t>(value.size()))
        break;  // in the next read
      if (std::string_view(afterCount, value.size()) != value || afterCount[value.size()] != ' ') {
        problem = "valeurs hors de leur suite";
        break;
      }
      if (count > static_cast<Int64>(UINT32_MAX)) {
        problem = "enregistrement mal forme";
        break;
      }
      const char* afterValue = afterCount + value.size() + 1;
      p = afterValue;
      checksum += recordShare(count, expected.number());
      expected.increment();
      chunk.push_back(static_cast<common::Count>(count));
      ++read;
      // A chunk is handed over only once its checksum matches; the last one
      // only once the end of the file is seen too.
      if (chunk.size() == static_cast<std::size_t>(PairsFile::kChunk) || read == total) {
        if (checksum != checksums[static_cast<std::size_t>((read - 1) / PairsFile::kChunk)]) {
          problem = "contenu modifie apres ecriture";
          break;
        }
        if (read < total) {
          sink(L1_ + (read - static_cast<Int64>(chunk.size())), chunk);
          chunk.clear();
          checksum = 0;
        }
      }
    }
    held = static_cast<std::size_t>(end - p);
    std::memmove(buffer.data(), p, held);
    if (ended) break;
  }
  std::fclose(file);
  if (problem.empty() && (read < total || held > 0)) problem = "fichier tronque";
  if (!problem.empty()) {
    resumeAt = L1_ + (read - static_cast<Int64>(chunk.size()));
    breakFile(problem);
    return false;
  }
  sink(L1_ + (read - static_cast<Int64>(chunk.size())), chunk);
  return true;
}

}  // namespace census
