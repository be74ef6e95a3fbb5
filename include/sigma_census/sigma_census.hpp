// sigma-census, the C++ API: for every S of an interval, how many positive
// integers m have a divisor sum sigma(m) equal to S; the histogram of those
// counts; and every m of one value. Exact for every bound up to 2^63 - 1.
//
// Every call is independent and may run in several threads at once; the
// library prints nothing, never exits and keeps no global state. A failure
// throws sigma_census::Error, whose message says what was wrong.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "sigma_census/sigma_census_version.h"

namespace sigma_census {

// The largest value any call accepts: 2^63 - 1.
inline constexpr std::int64_t kLargestValue = INT64_MAX;

// The library's version, as "MAJOR.MINOR.PATCH" and as numbers.
std::string version();
struct Version {
  int major, minor, patch;
};
Version versionNumbers();

class Error : public std::runtime_error {
 public:
  enum class Kind {
    Bounds,     // a bound or a value outside [1, 2^63 - 1], or L1 > L2
    Argument,   // an output too small, a limit exceeded, a missing callback
    Memory,     // the memory a calculation needs could not be had
    Cancelled,  // the caller's cancellation flag was set
    Failed,     // any other failure (a thread that could not start...)
  };
  Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct Options {
  unsigned threads = 0;      // 0: one per core
  std::uint64_t memory = 0;  // an upper bound on the memory budget, in bytes (0: as the machine allows)
  // Told the fraction of the work done (0 to 1), now and then, in the calling thread.
  std::function<void(double done)> progress;
  // Set it (from any thread) to abandon the call: it throws Error(Cancelled)
  // within about a second, having leaked nothing.
  const std::atomic<bool>* cancel = nullptr;
};

// count n -> how many values S of [L1, L2] have exactly n preimages, for the
// counts that some value has.
using Histogram = std::map<std::int64_t, std::int64_t>;
Histogram histogram(std::int64_t L1, std::int64_t L2, const Options& options = {});

// The count of every value of [L1, L2], out[k] for L1 + k; `out` must hold
// L2 - L1 + 1 numbers. On an error nothing in `out` is to be trusted.
void counts(std::int64_t L1, std::int64_t L2, std::span<std::int64_t> out, const Options& options = {});
// The same for any width: visit(first, counts) receives the counts of
// first, first + 1, ... in increasing order of value, in blocks.
using CountVisitor = std::function<void(std::int64_t first, std::span<const std::int64_t> counts)>;
void forEachCount(std::int64_t L1, std::int64_t L2, const CountVisitor& visit, const Options& options = {});

// How many m have sigma(m) == S.
std::int64_t count(std::int64_t S, const Options& options = {});

// Every m with sigma(m) == S, in increasing order; Error(Argument) when there
// are more than `limit` (nothing is returned then).
std::vector<std::int64_t> preimages(std::int64_t S, std::int64_t limit, const Options& options = {});
// Every m with sigma(m) == S, in batches, in the order the search finds them
// (not increasing), for counts in the billions; returns how many.
using PreimageVisitor = std::function<void(std::span<const std::int64_t> preimages)>;
std::int64_t forEachPreimage(std::int64_t S, const PreimageVisitor& visit, const Options& options = {});

}  // namespace sigma_census
