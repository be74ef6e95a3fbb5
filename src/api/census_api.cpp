// The C++ API: the arithmetic's counts and preimages behind checked bounds,
// the caller's options and one error type.
#include <algorithm>
#include <type_traits>

#include "api/call_guard.hpp"
#include "common/check.hpp"
#include "sigma_census/sigma_census.hpp"

namespace sigma_census {

using api::CallGuard;

// The arithmetic's counts and preimages are 64-bit, as the API's.
static_assert(std::is_same_v<common::Count, std::int64_t>);

std::string version() { return SIGMA_CENSUS_VERSION; }

Version versionNumbers() {
  return {SIGMA_CENSUS_VERSION_MAJOR, SIGMA_CENSUS_VERSION_MINOR, SIGMA_CENSUS_VERSION_PATCH};
}

Histogram histogram(std::int64_t L1, std::int64_t L2, const Options& options) {
  CallGuard::checkInterval(L1, L2);
  CallGuard guard(options);
  return guard.run([&] {
    arith::CountHistogram tally;
    guard.arithmetic().tallyDivisorSums(L1, L2, tally, guard.progress());
    Histogram result;
    tally.forEach([&](common::Count n, common::Int64 values) { result.emplace(n, values); });
    return result;
  });
}

void forEachCount(std::int64_t L1, std::int64_t L2, const CountVisitor& visit, const Options& options) {
  CallGuard::checkInterval(L1, L2);
  if (!visit) throw Error(Error::Kind::Argument, "no visitor");
  CallGuard guard(options);
  guard.run([&] {
    guard.arithmetic().countDivisorSums(
        L1, L2,
        [&](common::Int64 first, std::span<const common::Count> block) {
          guard.poll();
          visit(first, block);
        },
        guard.progress());
  });
}

void counts(std::int64_t L1, std::int64_t L2, std::span<std::int64_t> out, const Options& options) {
  CallGuard::checkInterval(L1, L2);
  const auto width = static_cast<std::uint64_t>(L2 - L1) + 1;  // L1 >= 1: no overflow
  if (out.size() < width)
    throw Error(Error::Kind::Argument, "the counts of [" + std::to_string(L1) + ", " + std::to_string(L2) +
                                           "] need room for " + std::to_string(width) + " numbers, not " +
                                           std::to_string(out.size()));
  forEachCount(
      L1, L2,
      [&](std::int64_t first, std::span<const std::int64_t> block) {
        std::copy(block.begin(), block.end(), out.begin() + (first - L1));
      },
      options);
}

std::int64_t count(std::int64_t S, const Options& options) {
  CallGuard::checkValue(S);
  CallGuard guard(options);
  return guard.run([&] { return guard.arithmetic().countOne(S); });
}

std::int64_t forEachPreimage(std::int64_t S, const PreimageVisitor& visit, const Options& options) {
  CallGuard::checkValue(S);
  if (!visit) throw Error(Error::Kind::Argument, "no visitor");
  CallGuard guard(options);
  return guard.run([&] {
    return guard.arithmetic().preimages(S, [&](std::span<const std::uint64_t> batch) {
      guard.poll();
      // Every preimage m has m <= sigma(m) = S < 2^63: its bits read the same signed.
      SIGMA_ASSERT(std::all_of(batch.begin(), batch.end(),
                               [&](std::uint64_t m) { return m <= static_cast<std::uint64_t>(S); }));
      visit({reinterpret_cast<const std::int64_t*>(batch.data()), batch.size()});
      return true;
    });
  });
}

std::vector<std::int64_t> preimages(std::int64_t S, std::int64_t limit, const Options& options) {
  CallGuard::checkValue(S);
  CallGuard guard(options);
  return guard.run([&] {
    // One arithmetic for the count and the walk: its set-up is most of a small call.
    const std::int64_t n = guard.arithmetic().countOne(S);
    if (n > limit)
      throw Error(Error::Kind::Argument, std::to_string(S) + " has " + std::to_string(n) +
                                             " preimages, more than the limit of " + std::to_string(limit));
    std::vector<std::int64_t> all;
    all.reserve(static_cast<std::size_t>(n));
    guard.arithmetic().preimages(S, [&](std::span<const std::uint64_t> batch) {
      guard.poll();
      for (const std::uint64_t m : batch) {
        SIGMA_ASSERT(m <= static_cast<std::uint64_t>(S));  // m <= sigma(m) = S < 2^63
        all.push_back(static_cast<std::int64_t>(m));
      }
      return true;
    });
    std::sort(all.begin(), all.end());
    return all;
  });
}

}  // namespace sigma_census
