#include "census/batch/preimage_listing.hpp"

#include <algorithm>
#include <charconv>
#include <exception>

#include "census/report/failure_text.hpp"
#include "census/report/texts.hpp"
#include "common/check.hpp"

namespace census {

PreimageListing::PreimageListing(arith::DivisorArithmetic& arithmetic, std::ostream& out, std::ostream& err)
    : arithmetic_(arithmetic), out_(out), err_(err) {}

int PreimageListing::run(common::Int64 S, Format format) {
  try {
    write(S, format, arithmetic_.countOne(S));
  } catch (const std::exception&) {
    out_.flush();
    err_ << texts::kCalculationFailed << failureText(std::current_exception()) << '\n';
    err_.flush();
    return 4;
  }
  out_.flush();
  if (!out_) {
    err_ << texts::kOutputLost;
    err_.flush();
    return 3;
  }
  return 0;
}

std::vector<std::uint64_t> PreimageListing::nextPass(common::Int64 S, std::uint64_t after, std::size_t room) {
  std::vector<std::uint64_t> kept;
  kept.reserve(2 * room);
  std::uint64_t cutoff = UINT64_MAX;  // past the room's worth of smallest: not kept
  arithmetic_.preimages(S, [&](std::span<const std::uint64_t> batch) {
    for (const std::uint64_t m : batch) {
      if (m <= after || m >= cutoff) continue;
      kept.push_back(m);
      if (kept.size() == 2 * room) {
        std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(room - 1), kept.end());
        cutoff = kept[room - 1] + 1;  // preimages are distinct: nothing equal is lost
        kept.resize(room);
      }
    }
    return true;
  });
  std::sort(kept.begin(), kept.end());
  if (kept.size() > room) kept.resize(room);
  return kept;
}

void PreimageListing::write(common::Int64 S, Format format, common::Count n) {
  // A quarter of the budget for the kept preimages (8 bytes each, twice over).
  const std::size_t room = std::max<std::size_t>(1 << 16, arithmetic_.memoryBudget() / 64);
  if (format == Format::Json) out_ << "{\"value\": " << S << ", \"count\": " << n << ", \"preimages\": [";
  if (format == Format::Tsv) out_ << "m\n";
  common::Count written = 0;
  std::uint64_t after = 0;
  char text[24];
  while (written < n && out_) {
    const std::vector<std::uint64_t> pass = nextPass(S, after, room);
    SIGMA_ASSERT(!pass.empty());
    for (const std::uint64_t m : pass) {
      if (format == Format::Json && written > 0) out_ << ", ";
      char* end = std::to_chars(text, text + sizeof text, m).ptr;
      if (format != Format::Json) *end++ = '\n';
      out_.write(text, end - text);
      ++written;
    }
    after = pass.back();
  }
  if (format == Format::Json) out_ << "]}\n";
}

}  // namespace census
