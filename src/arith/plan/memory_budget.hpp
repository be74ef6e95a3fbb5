// How much memory a calculation may take: a share of what the machine has
// free when it starts, within the limit of the process's control group.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace arith {

struct MemoryReading {
  std::optional<std::uint64_t> available;  // MemAvailable of /proc/meminfo
  std::optional<std::uint64_t> groupRoom;  // the control group's limit less its usage
};

// Reads the machine: /proc/meminfo, and the memory controller of the
// process's control group (cgroup v2 memory.max, or v1 memory.limit_in_bytes).
MemoryReading readMemory(const std::string& root = "");

inline constexpr double kShare = 0.6;
inline constexpr std::uint64_t kMargin = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kFallback = std::uint64_t{1} << 30;
// The budget's floor where the machine's free memory alone bounds it.
inline constexpr std::uint64_t kSmallestBudget = std::uint64_t{64} << 20;
// The least budget any interval can be counted in (the sieve's smallest
// blocks, the inversion's batches), and what the program takes besides.
inline constexpr std::uint64_t kLeastBudget = std::uint64_t{16} << 20;
inline constexpr std::uint64_t kOwnNeeds = std::uint64_t{8} << 20;

// The peak memory of a calculation run with `budget`: the blocks stay within
// it give or take an eighth (measured: 12 MiB for 8, 72 MiB for 64, on
// [1, 10^9] and on windows near 10^12 and 2^40), plus the program's own needs.
constexpr std::uint64_t peakFor(std::uint64_t budget) { return budget + budget / 8 + kOwnNeeds; }

// The control group's room cannot hold even the least budget.
class MemoryShortage : public std::exception {
 public:
  MemoryShortage(std::uint64_t room, std::uint64_t least) : room_(room), least_(least) {}
  const char* what() const noexcept override { return "memory shortage"; }
  std::uint64_t room() const { return room_; }    // bytes the group leaves
  std::uint64_t least() const { return least_; }  // bytes the least calculation needs

 private:
  std::uint64_t room_;
  std::uint64_t least_;
};

// The bytes a calculation may use: kShare of the smaller of the two room
// figures, less a margin for the rest of the program, no less than
// kSmallestBudget; kFallback when nothing could be read. Within a control
// group's limit it shrinks until peakFor(budget) fits the group's room, and
// throws MemoryShortage where even kLeastBudget would not.
std::uint64_t memoryBudget(const MemoryReading& reading);

}  // namespace arith
