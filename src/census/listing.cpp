#include "census/listing.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "census/texts.hpp"

namespace census {

using common::Int64;

Listing::Listing(const PairsFile& writer, Int64 L1, Int64 L2, const std::vector<Int64>& NN,
                 Recount recount, Warn warn, std::size_t budget)
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
    for (Int64 value : kept_[static_cast<std::size_t>(a - keptFirst_)]) out << value << texts::kValueEnd;
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
  forEachRecord([&](Int64 count, Int64 value) {
    if (count == first) {
      out << value << texts::kValueEnd;
    } else if (count > first && count <= last) {
      kept_[static_cast<std::size_t>(count - first)].push_back(value);
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

// Parses "count value count value ...", each number followed by one space,
// with no sign and no leading zero, exactly as the writer puts them.
class RecordParser {
 public:
  enum class Step { More, Field, Bad };

  Step feed(char c) {
    if (c >= '0' && c <= '9') {
      if (digits_ == 1 && number_ == 0) return Step::Bad;  // leading zero
      const Int64 d = c - '0';
      if (number_ > (common::kLargestBound - d) / 10) return Step::Bad;
      number_ = number_ * 10 + d;
      ++digits_;
      return Step::More;
    }
    if (c == ' ' && digits_ > 0) {
      field_ = number_;
      number_ = 0;
      digits_ = 0;
      return Step::Field;
    }
    return Step::Bad;
  }
  bool midRecord() const { return digits_ > 0; }
  Int64 field() const { return field_; }

 private:
  Int64 number_ = 0;
  int digits_ = 0;
  Int64 field_ = 0;
};

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
  std::vector<char> buffer(std::size_t{1} << 20);
  std::vector<Int64> chunk;  // counts of the chunk being read
  chunk.reserve(PairsFile::kChunk);
  RecordParser parser;
  Int64 read = 0;  // records read
  Int64 count = 0;
  bool onValue = false;
  std::uint64_t checksum = PairsFile::kChunkSeed;
  std::string problem;

  auto handOver = [&]() {
    const Int64 start = read - static_cast<Int64>(chunk.size());
    for (std::size_t k = 0; k < chunk.size(); ++k) sink(chunk[k], L1_ + start + static_cast<Int64>(k));
    chunk.clear();
    checksum = PairsFile::kChunkSeed;
  };

  bool ended = false;
  while (problem.empty() && !ended) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    if (got < buffer.size()) {
      if (std::ferror(file) != 0) {
        problem = std::string("lecture impossible (") + std::strerror(errno) + ")";
        break;
      }
      ended = true;
    }
    for (std::size_t k = 0; k < got && problem.empty(); ++k) {
      const auto step = read == total ? RecordParser::Step::Bad : parser.feed(buffer[k]);
      if (step == RecordParser::Step::Bad) {
        problem = read == total ? "donnees en trop en fin de fichier" : "enregistrement mal forme";
      } else if (step == RecordParser::Step::Field) {
        if (!onValue) {
          count = parser.field();
          onValue = true;
          continue;
        }
        onValue = false;
        if (parser.field() != L1_ + read) {
          problem = "valeurs hors de leur suite";
          break;
        }
        checksum = chainRecord(checksum, count, parser.field());
        chunk.push_back(count);
        ++read;
        // A chunk is handed over only once its checksum matches; the last one
        // only once the end of the file is seen too.
        if (chunk.size() == static_cast<std::size_t>(PairsFile::kChunk) || read == total) {
          if (checksum != checksums[static_cast<std::size_t>((read - 1) / PairsFile::kChunk)]) {
            problem = "contenu modifie apres ecriture";
          } else if (read < total) {
            handOver();
          }
        }
      }
    }
  }
  std::fclose(file);
  if (problem.empty() && (read < total || onValue || parser.midRecord())) problem = "fichier tronque";
  if (!problem.empty()) {
    resumeAt = L1_ + (read - static_cast<Int64>(chunk.size()));
    breakFile(problem);
    return false;
  }
  handOver();
  return true;
}

}  // namespace census
