// The memory budget read from a machine laid out in a temporary directory.
#include "arith/plan/memory_budget.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class MemoryBudget : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("machine_" + std::to_string(::getpid()));
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& path, const std::string& text) {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path) << text;
  }
  arith::MemoryReading read() { return arith::readMemory(root_.string()); }

  fs::path root_;
};

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST_F(MemoryBudget, AvailableMemoryAlone) {
  write("proc/meminfo", "MemTotal:       24000000 kB\nMemFree:  1000 kB\nMemAvailable:   20971520 kB\n");
  write("proc/self/cgroup", "0::/\n");
  const arith::MemoryReading reading = read();
  ASSERT_TRUE(reading.available.has_value());
  EXPECT_EQ(*reading.available, 20 * kGiB);
  EXPECT_FALSE(reading.groupRoom.has_value());
  EXPECT_EQ(arith::memoryBudget(reading),
            static_cast<std::uint64_t>(20 * kGiB * arith::kShare) - arith::kMargin);
}

TEST_F(MemoryBudget, AControlGroupOrItsParentLimitsBelowTheMachine) {
  write("proc/meminfo", "MemAvailable:   20971520 kB\n");
  // cgroup v2: the limit of the group's parent counts too.
  write("proc/self/cgroup", "0::/user/job\n");
  write("sys/fs/cgroup/user/job/memory.max", "max\n");
  write("sys/fs/cgroup/user/job/memory.current", "1000\n");
  write("sys/fs/cgroup/user/memory.max", std::to_string(2 * kGiB) + "\n");
  write("sys/fs/cgroup/user/memory.current", std::to_string(kGiB / 2) + "\n");
  const arith::MemoryReading v2 = read();
  ASSERT_TRUE(v2.groupRoom.has_value());
  EXPECT_EQ(*v2.groupRoom, 3 * kGiB / 2);
  EXPECT_LT(arith::memoryBudget(v2), kGiB);
  // cgroup v1, the memory controller among others; "no limit" is a huge number.
  fs::remove_all(root_);
  write("proc/meminfo", "MemAvailable:   20971520 kB\n");
  write("proc/self/cgroup", "5:cpu,memory:/batch\n1:name=systemd:/\n");
  write("sys/fs/cgroup/memory/batch/memory.limit_in_bytes", std::to_string(4 * kGiB) + "\n");
  write("sys/fs/cgroup/memory/batch/memory.usage_in_bytes", std::to_string(kGiB) + "\n");
  write("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  const arith::MemoryReading v1 = read();
  ASSERT_TRUE(v1.groupRoom.has_value());
  EXPECT_EQ(*v1.groupRoom, 3 * kGiB);
  // The job sits in an unlimited child; the scheduler's limit is on its parent.
  fs::remove_all(root_);
  write("proc/meminfo", "MemAvailable:   20971520 kB\n");
  write("proc/self/cgroup", "4:memory:/queue/job42\n");
  write("sys/fs/cgroup/memory/queue/job42/memory.limit_in_bytes", "9223372036854771712\n");
  write("sys/fs/cgroup/memory/queue/job42/memory.usage_in_bytes", "1000\n");
  write("sys/fs/cgroup/memory/queue/memory.limit_in_bytes", std::to_string(600 << 20) + "\n");
  write("sys/fs/cgroup/memory/queue/memory.usage_in_bytes", std::to_string(100 << 20) + "\n");
  // The parent's inactive file cache is given back before anything is killed.
  write("sys/fs/cgroup/memory/queue/memory.stat",
        "cache 1\ntotal_inactive_file " + std::to_string(40 << 20) + "\n");
  write("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  const arith::MemoryReading reading = read();
  ASSERT_TRUE(reading.groupRoom.has_value());
  EXPECT_EQ(*reading.groupRoom, std::uint64_t{540} << 20);
  EXPECT_LE(arith::peakFor(arith::memoryBudget(reading)), *reading.groupRoom);
}

TEST_F(MemoryBudget, TheBudgetFitsTheGroupOrIsRefusedOrFallsBackWithNothingToRead) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  for (const std::uint64_t room : {1000 * kMiB, 72 * kMiB, 50 * kMiB, 30 * kMiB}) {
    const arith::MemoryReading reading{20 * kGiB, room};
    const std::uint64_t budget = arith::memoryBudget(reading);
    EXPECT_LE(arith::peakFor(budget), room) << room;
    EXPECT_GE(budget, arith::kLeastBudget) << room;
  }
  // Too little for the least budget: refused, saying what would be needed.
  try {
    arith::memoryBudget({20 * kGiB, 20 * kMiB});
    ADD_FAILURE() << "a 20 MiB room was accepted";
  } catch (const arith::MemoryShortage& shortage) {
    EXPECT_EQ(shortage.room(), 20 * kMiB);
    EXPECT_EQ(shortage.least(), arith::peakFor(arith::kLeastBudget));
    EXPECT_GT(shortage.least(), shortage.room());
  }
  EXPECT_EQ(arith::memoryBudget(read()), arith::kFallback);  // no files at all
  write("proc/meminfo", "MemAvailable:   1024 kB\n");
  EXPECT_EQ(arith::memoryBudget(read()), arith::kSmallestBudget);
}

}  // namespace
