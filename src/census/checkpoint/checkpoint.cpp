#include "census/checkpoint/checkpoint.hpp"

#include <xxhash.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "arith/primes/wide.hpp"
#include "common/check.hpp"

namespace census {

using common::Int64;

void CheckpointState::finish(Int64 first, Int64 last) {
  SIGMA_ASSERT(L1 <= first && first <= last && last <= L2);
  done.push_back({first, last});
  std::sort(done.begin(), done.end(),
            [](const ValueRange& a, const ValueRange& b) { return a.first < b.first; });
  std::vector<ValueRange> merged;
  for (const ValueRange& range : done) {
    // Ranges that touch (last + 1 == first) merge; none overlap.
    if (!merged.empty() && range.first - 1 <= merged.back().last) {
      SIGMA_ASSERT(range.first > merged.back().last);
      merged.back().last = std::max(merged.back().last, range.last);
    } else {
      merged.push_back(range);
    }
  }
  done = std::move(merged);
}

std::vector<ValueRange> CheckpointState::missing() const {
  std::vector<ValueRange> gaps;
  Int64 next = L1;  // the first value not yet accounted for
  for (const ValueRange& range : done) {
    if (range.first > next) gaps.push_back({next, range.first - 1});
    if (range.last == L2) return gaps;
    next = range.last + 1;
  }
  gaps.push_back({next, L2});
  return gaps;
}

bool CheckpointState::complete() const { return done.size() == 1 && done[0] == ValueRange{L1, L2}; }

common::Int64 preimageBound(common::Int64 x) {
  // sigma(1) = 1; an odd m > 1 has sigma(m) >= m + 1, so m < x; an even m has
  // m / 2 among its divisors, so sigma(m) >= 3m / 2 and m <= 2x / 3. Hence at
  // most 1 + x / 2 + x / 3 numbers m (plus one for the rounding).
  SIGMA_ASSERT(x >= 0);
  return x / 2 + x / 3 + 2;
}

bool plausibleCounts(const arith::CountHistogram& histogram, common::Int64 L2) {
  // Every m counted for a value of the interval has sigma(m) <= L2, and no m
  // is counted twice: the sum of n * NN[n] is at most preimageBound(L2).
  const auto bound = static_cast<arith::Uint128>(preimageBound(L2));
  arith::Uint128 preimages = 0;  // stays <= bound + 2^126: no overflow
  bool plausible = true;
  histogram.forEachFrom(0, [&](common::Count n, common::Int64 values) {
    preimages += static_cast<arith::Uint128>(n) * static_cast<arith::Uint128>(values);
    plausible = preimages <= bound;
    return plausible;
  });
  return plausible;
}

namespace {

constexpr std::string_view kMagic = "sigma-census checkpoint 1\n";

std::string hex16(std::uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string serializeCheckpoint(const CheckpointState& state) {
  std::ostringstream out;
  out << kMagic << "interval " << state.L1 << ' ' << state.L2 << '\n'
      << "list " << (state.list ? 1 : 0) << '\n';
  if (state.checked) out << "checked 1\n";
  for (const ValueRange& range : state.done) out << "done " << range.first << ' ' << range.last << '\n';
  state.histogram.forEach(
      [&](common::Count n, Int64 values) { out << "count " << n << ' ' << values << '\n'; });
  if (state.list) out << "pairs " << state.pairsBytes << ' ' << hex16(state.pairsHash) << '\n';
  out << "complete " << (state.complete() ? 1 : 0) << '\n';
  std::string body = out.str();
  body += "xxh64 " + hex16(XXH64(body.data(), body.size(), 0)) + '\n';
  return body;
}

namespace {

// Reads the lines of a checkpoint body strictly: each line is a keyword and
// numbers separated by one space, as the writer writes them.
class LineReader {
 public:
  explicit LineReader(std::string_view body) : rest_(body) {}

  // The next line's fields when its keyword is `key`; nothing (and the line left) otherwise.
  std::optional<std::vector<std::string_view>> take(std::string_view key) {
    const auto end = rest_.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = rest_.substr(0, end);
    std::vector<std::string_view> fields;
    for (std::size_t at = 0; at <= line.size();) {
      const auto space = std::min(line.find(' ', at), line.size());
      fields.push_back(line.substr(at, space - at));
      at = space + 1;
    }
    if (fields[0] != key) return std::nullopt;
    rest_.remove_prefix(end + 1);
    fields.erase(fields.begin());
    return fields;
  }
  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// A non-negative decimal number as the writer writes it: no sign, no leading zero.
template <class Number>
std::optional<Number> number(std::string_view text, int base = 10) {
  Number value{};
  if (text.empty() || (text.size() > 1 && text[0] == '0') || text[0] == '-' || text[0] == '+')
    return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> hash(std::string_view text) {
  if (text.size() != 16) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + 16, value, 16);
  if (error != std::errc() || end != text.data() + 16) return std::nullopt;
  if (text != hex16(value)) return std::nullopt;  // lower case, as written
  return value;
}

// Two numbers on a line, both within [least, L2-like most].
std::optional<std::pair<Int64, Int64>> pair(const std::vector<std::string_view>& fields) {
  if (fields.size() != 2) return std::nullopt;
  const auto a = number<Int64>(fields[0]);
  const auto b = number<Int64>(fields[1]);
  if (!a || !b) return std::nullopt;
  return std::pair{*a, *b};
}

// The finished ranges: increasing, apart, within the interval. Returns how
// many values they hold, or -1 with `problem` set.
common::Int64 parseRanges(LineReader& lines, CheckpointState& state, std::string& problem) {
  common::Int64 values = 0;
  while (const auto fields = lines.take("done")) {
    const auto range = pair(*fields);
    // Apart from the range before: its last value + 1 lies below L2, so the
    // sum cannot overflow even next to 2^63 - 1.
    const bool apart = state.done.empty() ? range && range->first >= state.L1
                                          : range && range->first > state.done.back().last + 1;
    if (!apart || range->first > range->second || range->second > state.L2) {
      problem = "a finished range out of order";
      return -1;
    }
    state.done.push_back({range->first, range->second});
    values += range->second - range->first + 1;
    if (range->second == state.L2) break;
  }
  return values;
}

// The histogram of the finished ranges: counts increasing, adding up to `values`.
bool parseHistogram(LineReader& lines, CheckpointState& state, common::Int64 values, std::string& problem) {
  common::Count lastCount = -1;
  common::Int64 taken = 0;  // the values counted so far, kept at most `values`
  while (const auto fields = lines.take("count")) {
    const auto entry = pair(*fields);
    if (!entry || entry->first <= lastCount || entry->second < 1 || entry->first > state.L2 ||
        entry->second > values - taken) {
      problem = "a histogram entry out of order or too large";
      return false;
    }
    state.histogram.add(entry->first, entry->second);
    taken += entry->second;
    lastCount = entry->first;
  }
  SIGMA_ASSERT(taken == state.histogram.total());
  if (taken != values) {
    problem = "a histogram that does not fit its ranges";
  } else if (!plausibleCounts(state.histogram, state.L2)) {
    problem = "more preimages than the values below L2 can have";
  }
  return problem.empty();
}

// With the listing: NN.txt's complete part, and ranges that grow from L1 on.
bool parsePairs(LineReader& lines, CheckpointState& state, std::string& problem) {
  const auto pairs = lines.take("pairs");
  const auto bytes = pairs && pairs->size() == 2 ? number<std::uint64_t>((*pairs)[0]) : std::nullopt;
  const auto digest = pairs && pairs->size() == 2 ? hash((*pairs)[1]) : std::nullopt;
  if (!bytes || !digest) {
    problem = "no record of NN.txt";
  } else if (state.done.size() > 1 || (!state.done.empty() && state.done[0].first != state.L1)) {
    problem = "listing ranges that do not start at L1";
  }
  if (!problem.empty()) return false;
  state.pairsBytes = *bytes;
  state.pairsHash = *digest;
  return true;
}

// The body's records, in order; `problem` names the first that is wrong.
std::optional<CheckpointState> parseBody(std::string_view body, std::string& problem) {
  LineReader lines(body);
  CheckpointState state;
  const auto interval = lines.take("interval");
  const auto bounds = interval ? pair(*interval) : std::nullopt;
  if (!bounds || bounds->first < 1 || bounds->first > bounds->second)
    return problem = "no interval", std::nullopt;
  state.L1 = bounds->first;
  state.L2 = bounds->second;
  const auto list = lines.take("list");
  if (!list || list->size() != 1 || ((*list)[0] != "0" && (*list)[0] != "1"))
    return problem = "no listing choice", std::nullopt;
  state.list = (*list)[0] == "1";
  if (const auto checked = lines.take("checked")) {
    if (checked->size() != 1 || (*checked)[0] != "1") return problem = "a double-check mark", std::nullopt;
    state.checked = true;
  }
  const common::Int64 values = parseRanges(lines, state, problem);
  if (values < 0 || !parseHistogram(lines, state, values, problem)) return std::nullopt;
  if (state.list && !parsePairs(lines, state, problem)) return std::nullopt;
  const auto complete = lines.take("complete");
  if (!complete || complete->size() != 1 || (*complete)[0] != (state.complete() ? "1" : "0"))
    return problem = "a completion mark that does not fit its ranges", std::nullopt;
  if (!lines.atEnd()) return problem = "unexpected records", std::nullopt;
  return state;
}

}  // namespace

CheckpointRead parseCheckpoint(std::string_view bytes) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return {std::nullopt, "not a sigma-census checkpoint"};
  // The last line: "xxh64 " and 16 digits, then a line feed.
  constexpr std::size_t kHashLine = 6 + 16 + 1;
  if (bytes.size() < kMagic.size() + kHashLine || bytes.back() != '\n')
    return {std::nullopt, "truncated (no final checksum)"};
  const std::string_view body = bytes.substr(0, bytes.size() - kHashLine);
  const std::string_view tail = bytes.substr(body.size());
  const auto written = tail.substr(0, 6) == "xxh64 " ? hash(tail.substr(6, 16)) : std::nullopt;
  if (!written || (!body.empty() && body.back() != '\n'))
    return {std::nullopt, "truncated (no final checksum)"};
  if (*written != XXH64(body.data(), body.size(), 0)) return {std::nullopt, "checksum mismatch (altered)"};
  std::string problem;
  auto state = parseBody(body.substr(kMagic.size()), problem);
  if (!state) return {std::nullopt, "malformed: " + problem};
  return {std::move(state), ""};
}

}  // namespace census
