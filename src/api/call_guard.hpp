// What every call of the public API does around the arithmetic: checks its
// bounds, makes the arithmetic its options ask for, polls the caller's
// cancellation flag wherever the arithmetic reports progress or hands over
// results, and turns whatever went wrong into one sigma_census::Error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "arith/counts/sinks.hpp"
#include "arith/divisor_arithmetic.hpp"
#include "sigma_census/sigma_census.hpp"

namespace api {

class CallGuard {
 public:
  explicit CallGuard(const sigma_census::Options& options);

  // Throws Error(Bounds) unless 1 <= L1 <= L2 <= 2^63 - 1 (`what` names them).
  static void checkInterval(std::int64_t L1, std::int64_t L2);
  static void checkValue(std::int64_t S);

  // The arithmetic, made on first use with the options' threads and memory.
  arith::DivisorArithmetic& arithmetic();
  // The caller's progress, behind a poll of the cancellation flag.
  arith::ProgressSink progress();
  // Throws the cancellation when the flag is set.
  void poll() const;

  // Runs `work`, turning every failure into sigma_census::Error.
  template <class Work>
  auto run(const Work& work) -> decltype(work()) {
    try {
      return work();
    } catch (...) {
      rethrowAsError();
    }
  }

 private:
  [[noreturn]] static void rethrowAsError();

  const sigma_census::Options& options_;
  std::optional<arith::DivisorArithmetic> arithmetic_;
};

}  // namespace api
