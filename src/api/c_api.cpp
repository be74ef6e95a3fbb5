// The C API: each function calls the C++ API, and turns its exception into a
// status and a message kept for the calling thread.
#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <string>

#include "sigma_census/sigma_census.h"
#include "sigma_census/sigma_census.hpp"

namespace {

using sigma_census::Error;

// The message of the last failure in this thread, as C callers expect of a
// library that returns statuses (errno, dlerror). Per thread, so that
// concurrent calls never see each other's.
std::string& lastError() {
  thread_local std::string message;
  return message;
}

sigma_census_status statusOf(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::Bounds:
      return SIGMA_CENSUS_ERROR_BOUNDS;
    case Error::Kind::Argument:
      return SIGMA_CENSUS_ERROR_ARGUMENT;
    case Error::Kind::Memory:
      return SIGMA_CENSUS_ERROR_MEMORY;
    case Error::Kind::Cancelled:
      return SIGMA_CENSUS_ERROR_CANCELLED;
    case Error::Kind::Failed:
      break;
  }
  return SIGMA_CENSUS_ERROR_FAILED;
}

// Runs `call`; its failure becomes a status and the thread's last message.
template <class Call>
sigma_census_status guarded(const Call& call) {
  try {
    call();
    lastError().clear();
    return SIGMA_CENSUS_OK;
  } catch (const Error& error) {
    lastError() = error.what();
    return statusOf(error.kind());
  } catch (const std::bad_alloc&) {
    lastError() = "out of memory";
    return SIGMA_CENSUS_ERROR_MEMORY;
  } catch (const std::exception& error) {
    lastError() = error.what();
    return SIGMA_CENSUS_ERROR_FAILED;
  } catch (...) {
    lastError() = "an unknown failure";
    return SIGMA_CENSUS_ERROR_FAILED;
  }
}

struct Stop {};  // a C callback asked to stop

// The C options as the C++ API takes them: a progress callback that returns
// nonzero cancels the call.
sigma_census::Options optionsOf(const sigma_census_options* options) {
  sigma_census::Options converted;
  if (options == nullptr) return converted;
  converted.threads = options->threads;
  converted.memory = options->memory;
  if (options->progress != nullptr) {
    converted.progress = [options](double done) {
      if (options->progress(done, options->progress_data) != 0)
        throw Error(Error::Kind::Cancelled, "cancelled");
    };
  }
  return converted;
}

void require(bool condition, const char* what) {
  if (!condition) throw Error(Error::Kind::Argument, what);
}

}  // namespace

extern "C" {

void sigma_census_options_init(sigma_census_options* options) {
  if (options != nullptr) *options = sigma_census_options{0, 0, nullptr, nullptr};
}

const char* sigma_census_version(void) { return SIGMA_CENSUS_VERSION; }

void sigma_census_version_numbers(int* major, int* minor, int* patch) {
  if (major != nullptr) *major = SIGMA_CENSUS_VERSION_MAJOR;
  if (minor != nullptr) *minor = SIGMA_CENSUS_VERSION_MINOR;
  if (patch != nullptr) *patch = SIGMA_CENSUS_VERSION_PATCH;
}

const char* sigma_census_last_error(void) { return lastError().c_str(); }

sigma_census_status sigma_census_histogram(int64_t L1, int64_t L2, int64_t* ns, int64_t* counts,
                                           size_t capacity, size_t* size,
                                           const sigma_census_options* options) {
  return guarded([&] {
    require(size != nullptr && (capacity == 0 || (ns != nullptr && counts != nullptr)), "a null pointer");
    const sigma_census::Histogram histogram = sigma_census::histogram(L1, L2, optionsOf(options));
    *size = histogram.size();
    if (histogram.size() > capacity)
      throw Error(Error::Kind::Argument, "the histogram has " + std::to_string(histogram.size()) +
                                             " counts, room was given for " + std::to_string(capacity));
    std::size_t k = 0;
    for (const auto& [n, values] : histogram) {
      ns[k] = n;
      counts[k++] = values;
    }
  });
}

sigma_census_status sigma_census_counts(int64_t L1, int64_t L2, int64_t* out, size_t size,
                                        const sigma_census_options* options) {
  return guarded([&] {
    require(out != nullptr || size == 0, "a null pointer");
    sigma_census::counts(L1, L2, {out, size}, optionsOf(options));
  });
}

sigma_census_status sigma_census_for_each_count(int64_t L1, int64_t L2, sigma_census_count_visitor visit,
                                                void* data, const sigma_census_options* options) {
  return guarded([&] {
    require(visit != nullptr, "no visitor");
    sigma_census::forEachCount(
        L1, L2,
        [&](std::int64_t first, std::span<const std::int64_t> block) {
          if (visit(first, block.data(), block.size(), data) != 0)
            throw Error(Error::Kind::Cancelled, "stopped by the visitor");
        },
        optionsOf(options));
  });
}

sigma_census_status sigma_census_count(int64_t S, int64_t* count, const sigma_census_options* options) {
  return guarded([&] {
    require(count != nullptr, "a null pointer");
    *count = sigma_census::count(S, optionsOf(options));
  });
}

int64_t sigma_census_count_of(int64_t S) {
  int64_t count = -1;
  return sigma_census_count(S, &count, nullptr) == SIGMA_CENSUS_OK ? count : -1;
}

sigma_census_status sigma_census_preimages(int64_t S, int64_t* out, size_t capacity, size_t* size,
                                           const sigma_census_options* options) {
  return guarded([&] {
    require(size != nullptr && (out != nullptr || capacity == 0), "a null pointer");
    const sigma_census::Options converted = optionsOf(options);
    const auto limit =
        static_cast<std::int64_t>(std::min<size_t>(capacity, std::numeric_limits<std::int64_t>::max()));
    try {
      // One calculation when they fit; the count alone, for *size, when they do not.
      const std::vector<std::int64_t> all = sigma_census::preimages(S, limit, converted);
      *size = all.size();
      std::copy(all.begin(), all.end(), out);
    } catch (const Error& error) {
      if (error.kind() == Error::Kind::Argument)
        *size = static_cast<size_t>(sigma_census::count(S, converted));
      throw;
    }
  });
}

sigma_census_status sigma_census_for_each_preimage(int64_t S, sigma_census_preimage_visitor visit, void* data,
                                                   int64_t* total, const sigma_census_options* options) {
  return guarded([&] {
    require(visit != nullptr, "no visitor");
    const std::int64_t handed = sigma_census::forEachPreimage(
        S,
        [&](std::span<const std::int64_t> batch) {
          if (visit(batch.data(), batch.size(), data) != 0)
            throw Error(Error::Kind::Cancelled, "stopped by the visitor");
        },
        optionsOf(options));
    if (total != nullptr) *total = handed;
  });
}

}  // extern "C"
