// The public C++ and C API: its answers against the arithmetic's own, its
// errors, cancellation from another thread, and calculations side by side.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "arith/divisor_arithmetic.hpp"
#include "sigma_census/sigma_census.h"
#include "sigma_census/sigma_census.hpp"

namespace {

using sigma_census::Error;

sigma_census::Options withMemory(std::uint64_t bytes) {
  sigma_census::Options options;
  options.memory = bytes;
  return options;
}

sigma_census::Options oneThread() {
  sigma_census::Options options;
  options.threads = 1;
  return options;
}

Error::Kind kindOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()), "");
    return error.kind();
  }
  ADD_FAILURE() << "no error";
  return Error::Kind::Failed;
}

TEST(Api, HistogramCountsAndPreimagesAgreeWithEachOtherLowAndHigh) {
  for (const auto& [L1, L2] : {std::pair<std::int64_t, std::int64_t>{1, 100000},
                               {1000000000000, 1000000020000},
                               {9223372036854765807, 9223372036854775807}}) {
    const auto width = static_cast<std::size_t>(L2 - L1 + 1);
    std::vector<std::int64_t> counts(width);
    sigma_census::counts(L1, L2, counts);
    sigma_census::Histogram tally;
    for (const std::int64_t n : counts) ++tally[n];
    EXPECT_EQ(sigma_census::histogram(L1, L2), tally) << L1;
    arith::DivisorArithmetic arithmetic(1);
    arith::CountHistogram own;
    arithmetic.tallyDivisorSums(L1, L2, own);
    own.forEach([&](std::int64_t n, std::int64_t values) { EXPECT_EQ(tally[n], values) << n; });
    for (std::size_t k = 0; k < width; k += width / 7) {
      const std::int64_t S = L1 + static_cast<std::int64_t>(k);
      EXPECT_EQ(sigma_census::count(S), counts[k]) << S;
      EXPECT_EQ(static_cast<std::int64_t>(sigma_census::preimages(S, 1000).size()), counts[k]) << S;
    }
  }
  // Streamed, as handed, and as one vector.
  const std::int64_t twelve = 479001600;  // 12!: 14077 preimages
  std::vector<std::int64_t> streamed;
  const std::int64_t n = sigma_census::forEachPreimage(twelve, [&](std::span<const std::int64_t> batch) {
    streamed.insert(streamed.end(), batch.begin(), batch.end());
  });
  std::sort(streamed.begin(), streamed.end());
  EXPECT_EQ(n, 14077);
  EXPECT_EQ(sigma_census::preimages(twelve, n), streamed);
}

TEST(Api, BadInputIsAnErrorThatSaysWhatFits) {
  std::vector<std::int64_t> small(10);
  EXPECT_EQ(kindOf([] { sigma_census::histogram(0, 5); }), Error::Kind::Bounds);
  EXPECT_EQ(kindOf([] { sigma_census::histogram(6, 5); }), Error::Kind::Bounds);
  EXPECT_EQ(kindOf([] { sigma_census::count(-1); }), Error::Kind::Bounds);
  EXPECT_EQ(kindOf([&] { sigma_census::counts(1, 11, small); }), Error::Kind::Argument);
  EXPECT_EQ(kindOf([] { sigma_census::preimages(720, 14); }), Error::Kind::Argument);
  EXPECT_EQ(kindOf([] { sigma_census::forEachPreimage(720, nullptr); }), Error::Kind::Argument);
  EXPECT_EQ(kindOf([] { sigma_census::histogram(1, 5, withMemory(1000)); }), Error::Kind::Argument);
  try {
    sigma_census::counts(1, 11, small);
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("room for 11"), std::string::npos) << error.what();
  }
}

TEST(Api, ACancelledCallEndsSoonFromAnotherThread) {
  std::atomic<bool> cancel{false};
  sigma_census::Options options;
  options.cancel = &cancel;
  std::atomic<bool> started{false};
  options.progress = [&](double) { started = true; };
  std::thread canceller([&] {
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cancel = true;
  });
  // Far too long to finish: only the cancellation ends it.
  EXPECT_EQ(kindOf([&] { sigma_census::histogram(1, std::int64_t{1} << 40, options); }),
            Error::Kind::Cancelled);
  canceller.join();
  cancel = true;
  EXPECT_EQ(kindOf([&] {
              sigma_census::forEachPreimage(
                  7298706024529920000, [](auto) {}, options);
            }),
            Error::Kind::Cancelled);
}

TEST(Api, TwoCalculationsAtOnceGiveWhatEachGivesAlone) {
  const sigma_census::Histogram low = sigma_census::histogram(1, 3000000);
  const sigma_census::Histogram high = sigma_census::histogram(1000000000000, 1000000300000);
  sigma_census::Histogram lowAgain;
  sigma_census::Histogram highAgain;
  std::thread other([&] { highAgain = sigma_census::histogram(1000000000000, 1000000300000, oneThread()); });
  lowAgain = sigma_census::histogram(1, 3000000, oneThread());
  other.join();
  EXPECT_EQ(low, lowAgain);
  EXPECT_EQ(high, highAgain);
}

int stopAtOnce(double, void*) { return 1; }

TEST(CApi, StatusesAndTheLastErrorOfThisThread) {
  std::int64_t ns[8];
  std::int64_t values[8];
  std::size_t size = 0;
  ASSERT_EQ(sigma_census_histogram(1, 12, ns, values, 8, &size, nullptr), SIGMA_CENSUS_OK);
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(ns[2], 2);
  EXPECT_EQ(values[0] + values[1] + values[2], 12);
  EXPECT_STREQ(sigma_census_last_error(), "");
  EXPECT_EQ(sigma_census_histogram(1, 12, ns, values, 2, &size, nullptr), SIGMA_CENSUS_ERROR_ARGUMENT);
  EXPECT_EQ(size, 3u);  // the room needed
  EXPECT_EQ(sigma_census_histogram(0, 12, ns, values, 8, &size, nullptr), SIGMA_CENSUS_ERROR_BOUNDS);
  EXPECT_NE(std::string(sigma_census_last_error()).find("L1"), std::string::npos);
  // Another thread's failures leave this thread's message alone.
  std::thread([] { sigma_census_count(0, nullptr, nullptr); }).join();
  EXPECT_NE(std::string(sigma_census_last_error()).find("L1"), std::string::npos);
  sigma_census_options options;
  sigma_census_options_init(&options);
  options.progress = stopAtOnce;
  EXPECT_EQ(sigma_census_histogram(1, 100000000, ns, values, 8, &size, &options),
            SIGMA_CENSUS_ERROR_CANCELLED);
  std::int64_t preimages[15];
  EXPECT_EQ(sigma_census_preimages(720, preimages, 15, &size, nullptr), SIGMA_CENSUS_OK);
  EXPECT_EQ(size, 15u);
  EXPECT_EQ(preimages[0], 264);
  EXPECT_EQ(preimages[14], 719);
  EXPECT_EQ(sigma_census_preimages(720, preimages, 14, &size, nullptr), SIGMA_CENSUS_ERROR_ARGUMENT);
  EXPECT_EQ(size, 15u);
}

}  // namespace
