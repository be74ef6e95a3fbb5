#include "arith/memory_budget.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

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

// limit - usage for one cgroup directory, when it has a limit.
std::optional<std::uint64_t> roomIn(const std::string& dir, const char* limitFile, const char* usageFile) {
  const auto limit = readNumber(dir + "/" + limitFile);
  // cgroup v1 writes "no limit" as a number near 2^63.
  if (!limit || *limit >= (std::uint64_t{1} << 60)) return std::nullopt;
  const auto usage = readNumber(dir + "/" + usageFile).value_or(0);
  return *limit > usage ? *limit - usage : 0;
}

// Whether a cgroup v1 line's comma-separated controllers include "memory".
bool isMemoryController(const std::string& controllers) {
  std::istringstream list(controllers);
  for (std::string name; std::getline(list, name, ',');) {
    if (name == "memory") return true;
  }
  return false;
}

std::optional<std::uint64_t> readGroupRoom(const std::string& root) {
  std::ifstream in(root + "/proc/self/cgroup");
  const std::string v2Root = root + "/sys/fs/cgroup";
  const std::string v1Root = root + "/sys/fs/cgroup/memory";
  std::optional<std::uint64_t> room;
  auto keep = [&room](std::optional<std::uint64_t> r) {
    if (r) room = room ? std::min(*room, *r) : *r;
  };
  for (std::string line; std::getline(in, line);) {
    // "0::/path" (v2), or "N:memory:/path" (v1, possibly among other controllers).
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controllers.empty()) {
      // The group and every group above it may set a limit.
      for (std::string dir = path; !dir.empty(); dir = dir.substr(0, dir.rfind('/'))) {
        keep(roomIn(v2Root + dir, "memory.max", "memory.current"));
        if (dir == "/") break;
      }
      keep(roomIn(v2Root, "memory.max", "memory.current"));
    } else if (isMemoryController(controllers)) {
      keep(roomIn(v1Root + path, "memory.limit_in_bytes", "memory.usage_in_bytes"));
      // Inside a container the group's own directory is the mount's root.
      keep(roomIn(v1Root, "memory.limit_in_bytes", "memory.usage_in_bytes"));
    }
  }
  return room;
}

}  // namespace

MemoryReading readMemory(const std::string& root) { return {readAvailable(root), readGroupRoom(root)}; }

std::uint64_t memoryBudget(const MemoryReading& reading) {
  std::optional<std::uint64_t> room = reading.available;
  if (reading.groupRoom) room = room ? std::min(*room, *reading.groupRoom) : *reading.groupRoom;
  if (!room) return kFallback;
  const auto share = static_cast<std::uint64_t>(static_cast<double>(*room) * kShare);
  return std::max(kSmallestBudget, share > kMargin ? share - kMargin : 0);
}

}  // namespace arith
