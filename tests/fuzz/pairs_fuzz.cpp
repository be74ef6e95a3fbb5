// Fuzzes the read-back of the pairs file. A real scan writes the file and its
// checksums once; each input then replaces the file's bytes before the
// listing reads them back. Whatever the bytes, the listing must equal the one
// computed from the arithmetic alone, with at most one warning, and no read
// may go past a buffer (the sanitizers watch).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "arith/counts/count_histogram.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "census/listing/listing.hpp"
#include "census/listing/pairs_file.hpp"
#include "census/report/report_writer.hpp"

namespace {

constexpr common::Int64 kL1 = 1;
constexpr common::Int64 kL2 = 10000;  // more than one run of checked records

void require(bool condition) {
  if (!condition) std::abort();
}

struct Scan {
  arith::DivisorArithmetic arithmetic{1};
  census::PairsFile writer{"./pairs_fuzz_NN.txt"};
  arith::CountHistogram NN;
  std::string written;   // the file as the scan left it
  std::string expected;  // the listing from the arithmetic alone

  Scan() {
    writer.open();
    arithmetic.countDivisorSums(kL1, kL2, [&](common::Int64 first, std::span<const common::Count> counts) {
      for (std::size_t k = 0; k < counts.size(); ++k) {
        writer.record(counts[k], first + static_cast<common::Int64>(k));
        NN.add(counts[k]);
      }
    });
    writer.close();
    require(!writer.failed());
    std::FILE* file = std::fopen(writer.path().c_str(), "rb");
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) written.push_back(static_cast<char>(c));
    std::fclose(file);
    int warnings = 0;
    expected = list(warnings);  // from the file as written: no warning
    require(warnings == 0);
    replaceFile("");
    require(list(warnings) == expected && warnings == 1);  // from the arithmetic
  }

  void replaceFile(const std::string& bytes) const {
    std::FILE* file = std::fopen(writer.path().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  std::string list(int& warnings) {
    warnings = 0;
    std::ostringstream text;
    {
      census::ReportWriter out(text);
      census::Listing listing(
          writer, kL1, kL2, NN,
          [&](common::Int64 from, const census::Listing::RecordSink& sink) {
            arithmetic.countDivisorSums(from, kL2, sink);
          },
          [&](const std::string&) { ++warnings; }, 3000);  // a small budget: a few passes
      NN.forEach([&](common::Count a, common::Int64) { listing.list(a, out); });
    }
    return text.str();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scan scan;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  scan.replaceFile(bytes);
  int warnings = 0;
  require(scan.list(warnings) == scan.expected);
  require(warnings == (bytes == scan.written ? 0 : 1));
  return 0;
}
