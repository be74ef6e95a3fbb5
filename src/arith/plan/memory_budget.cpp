#include "arith/plan/memory_budget.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "common/check.hpp"

namespace arith {

namespace {

std::optional<std::uint64_t> readNumber(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return std::nullopt;
  std::uint64_t value = 0;
  std::istringstream parse(word);
  if (!(parse >> value)) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> readAvailable(const std::string& root) {
  std::ifstream in(root + "/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> key >> kib) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kib * 1024;
  }
  return std::nullopt;
}

// The bytes a group's file cache may give back: the kernel reclaims its
// inactive pages before it kills anything, so they are not counted as used.
std::uint64_t reclaimable(const std::string& statFile, const char* key) {
  std::ifstream in(statFile);
  std::string name;
  std::uint64_t bytes = 0;
  while (in >> name >> bytes) {
    if (name == key) return bytes;
  }
  return 0;
}

// One cgroup version's files: the limit, the usage and the reclaimable cache.
struct GroupFiles {
  const char* limit;
  const char* usage;
  const char* inactiveFileKey;  // in memory.stat
};
constexpr GroupFiles kV2 = {"memory.max", "memory.current", "inactive_file"};
constexpr GroupFiles kV1 = {"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"};

// limit - usage for one cgroup directory, when it has a limit.
std::optional<std::uint64_t> roomIn(const std::string& dir, const GroupFiles& files) {
  const auto limit = readNumber(dir + "/" + files.limit);
  // cgroup v1 writes "no limit" as a number near 2^63.
  if (!limit || *limit >= (std::uint64_t{1} << 60)) return std::nullopt;
  const std::uint64_t usage = readNumber(dir + "/" + files.usage).value_or(0);
  const std::uint64_t cache = std::min(usage, reclaimable(dir + "/memory.stat", files.inactiveFileKey));
  return *limit > usage - cache ? *limit - (usage - cache) : 0;
}

void keepLeast(std::optional<std::uint64_t>& room, std::optional<std::uint64_t> other) {
  if (other) room = room ? std::min(*room, *other) : *other;
}

// Whether a cgroup v1 line's comma-separated controllers include "memory".
bool isMemoryController(const std::string& controllers) {
  std::istringstream list(controllers);
  for (std::string name; std::getline(list, name, ',');) {
    if (name == "memory") return true;
  }
  return false;
}

// The least room left by the group at `path` under `mount` and every group
// above it: a limit on any ancestor binds the process as well (service
// managers and batch queues put the limit on a parent and the job in a child).
std::optional<std::uint64_t> roomAlong(const std::string& mount, const std::string& path,
                                       const GroupFiles& files) {
  std::optional<std::uint64_t> room;
  for (std::string dir = path; !dir.empty() && dir != "/"; dir = dir.substr(0, dir.rfind('/')))
    keepLeast(room, roomIn(mount + dir, files));
  // The mount's root: the host's top group, or inside a container the group's own.
  keepLeast(room, roomIn(mount, files));
  return room;
}

std::optional<std::uint64_t> readGroupRoom(const std::string& root) {
  std::ifstream in(root + "/proc/self/cgroup");
  std::optional<std::uint64_t> room;
  for (std::string line; std::getline(in, line);) {
    // "0::/path" (v2), or "N:memory:/path" (v1, possibly among other controllers).
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controllers.empty()) {
      keepLeast(room, roomAlong(root + "/sys/fs/cgroup", path, kV2));
    } else if (isMemoryController(controllers)) {
      keepLeast(room, roomAlong(root + "/sys/fs/cgroup/memory", path, kV1));
    }
  }
  return room;
}

}  // namespace

MemoryReading readMemory(const std::string& root) { return {readAvailable(root), readGroupRoom(root)}; }

std::uint64_t memoryBudget(const MemoryReading& reading) {
  std::optional<std::uint64_t> room = reading.available;
  keepLeast(room, reading.groupRoom);
  if (!room) return kFallback;
  const auto share = static_cast<std::uint64_t>(static_cast<double>(*room) * kShare);
  std::uint64_t budget = std::max(kSmallestBudget, share > kMargin ? share - kMargin : 0);
  // A group's limit is a wall: past it the kernel kills the process without
  // a word. The budget shrinks to fit under it, down to the least that works.
  if (reading.groupRoom && peakFor(budget) > *reading.groupRoom) {
    const std::uint64_t wall = *reading.groupRoom;
    budget = wall > kOwnNeeds ? (wall - kOwnNeeds) / 9 * 8 : 0;
    if (budget < kLeastBudget) throw MemoryShortage(wall, peakFor(kLeastBudget));
  }
  SIGMA_ASSERT(!reading.groupRoom || peakFor(budget) <= *reading.groupRoom);
  return budget;
}

}  // namespace arith
