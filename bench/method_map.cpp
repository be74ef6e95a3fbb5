// Where each method wins: windows [A, A + W) of several heights A and widths
// W, each counted by every method whose planned cost stays within a limit,
// timed on all cores, beside the planner's choice.
// Usage: method_map [LIMIT_SECONDS]
//        method_map LIMIT_SECONDS FIRST LAST  (one interval: each method's
//        planned and measured seconds, to refit the planner's costs)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "arith/divisor_arithmetic.hpp"

namespace {

using arith::Method;

const char* nameOf(Method method) {
  switch (method) {
    case Method::Sieve:
      return "sieve";
    case Method::Inversion:
      return "inversion";
    case Method::Window:
      return "window";
  }
  return "?";
}

// Seconds to tally [first, last] by `method`, or a negative number when skipped.
double timeOf(arith::DivisorArithmetic& arithmetic, Method method, std::uint64_t first, std::uint64_t last,
              double limit, arith::CountHistogram& histogram) {
  const arith::CensusPlanner& planner = arithmetic.planner();
  const double planned = method == Method::Sieve       ? planner.sieveCost(first, last)
                         : method == Method::Inversion ? planner.inversionCost(first, last)
                                                       : planner.windowCost(first, last);
  if (planned > limit) return -1;
  const auto start = std::chrono::steady_clock::now();
  arithmetic.tallyWith(method, static_cast<common::Int64>(first), static_cast<common::Int64>(last),
                       histogram);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string cell(double seconds) {
  if (seconds < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

// Each method on [first, last]: the plan's seconds and the measured ones.
int oneInterval(arith::DivisorArithmetic& arithmetic, double limit, std::uint64_t first, std::uint64_t last) {
  const arith::CensusPlanner& planner = arithmetic.planner();
  arith::CountHistogram reference;
  for (Method method : {Method::Sieve, Method::Inversion, Method::Window}) {
    const double planned = method == Method::Sieve       ? planner.sieveCost(first, last)
                           : method == Method::Inversion ? planner.inversionCost(first, last)
                                                         : planner.windowCost(first, last);
    arith::CountHistogram histogram;
    const double seconds = timeOf(arithmetic, method, first, last, limit, histogram);
    if (seconds >= 0 && reference.total() == 0) reference = histogram;
    const bool agrees = seconds < 0 || histogram == reference;
    std::printf("%-9s planned %8.2f s measured %s s%s\n", nameOf(method), planned, cell(seconds).c_str(),
                agrees ? "" : "  THE METHODS DISAGREE");
    if (!agrees) return 1;
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 40;
  arith::DivisorArithmetic arithmetic;
  if (argc == 4)
    return oneInterval(arithmetic, limit, std::strtoull(argv[2], nullptr, 0),
                       std::strtoull(argv[3], nullptr, 0));
  std::printf("| A | W | sieve (s) | inversion (s) | window (s) | fastest | planner's choice |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (int a = 6; a <= 15; ++a) {
    for (int w = 4; w <= 8; w += 2) {
      std::uint64_t first = 1;
      for (int i = 0; i < a; ++i) first *= 10;
      std::uint64_t width = 1;
      for (int i = 0; i < w; ++i) width *= 10;
      const std::uint64_t last = first + width - 1;
      double best = -1;
      Method fastest = Method::Sieve;
      std::string cells;
      arith::CountHistogram reference;
      bool agree = true;
      for (Method method : {Method::Sieve, Method::Inversion, Method::Window}) {
        arith::CountHistogram histogram;
        const double seconds = timeOf(arithmetic, method, first, last, limit, histogram);
        if (seconds >= 0 && (best < 0 || seconds < best)) {
          best = seconds;
          fastest = method;
        }
        if (seconds >= 0) {
          if (reference.total() == 0) reference = histogram;
          agree = agree && histogram == reference;
        }
        cells.append(" ").append(cell(seconds)).append(" |");
      }
      const arith::BlockPlan plan = arithmetic.planner().plan(first, last);
      std::printf("| 10^%d | 10^%d |%s %s | %s%s |\n", a, w, cells.c_str(), best < 0 ? "-" : nameOf(fastest),
                  nameOf(plan.method), plan.last == last ? "" : " (first block)");
      if (!agree) std::printf("THE METHODS DISAGREE on [10^%d, 10^%d + 10^%d)\n", a, a, w);
      std::fflush(stdout);
    }
  }
}
