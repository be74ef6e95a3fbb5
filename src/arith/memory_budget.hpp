// How much memory a calculation may take: a share of what the machine has
// free when it starts, within the limit of the process's control group.
#pragma once

#include <cstdint>
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

// The bytes a calculation may use: kShare of the smaller of the two room
// figures, less a margin for the rest of the program; kFallback when
// nothing could be read.
std::uint64_t memoryBudget(const MemoryReading& reading);

inline constexpr double kShare = 0.6;
inline constexpr std::uint64_t kMargin = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kFallback = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kSmallestBudget = std::uint64_t{64} << 20;

}  // namespace arith
