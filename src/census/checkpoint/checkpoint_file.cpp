#include "census/checkpoint/checkpoint_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "census/listing/work_file.hpp"

namespace census {

namespace {

std::string withError(const char* what, int error) {
  return std::string(what) + " (" + std::strerror(error) + ")";
}

// Reads the whole regular file open at `fd`, refusing one larger than any
// checkpoint could be without reading it; `problem` says why on failure.
std::optional<std::string> readBounded(int fd, std::string& problem) {
  struct stat file {};
  if (::fstat(fd, &file) != 0) return problem = withError("cannot be read", errno), std::nullopt;
  if (!S_ISREG(file.st_mode)) return problem = "not a regular file", std::nullopt;
  if (file.st_size > static_cast<off_t>(kLargestCheckpoint))
    return problem = "larger than any checkpoint (" + std::to_string(file.st_size) + " bytes)", std::nullopt;
  std::string bytes(static_cast<std::size_t>(file.st_size) + 1, '\0');  // one more: a file that grew
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t read = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return problem = withError("cannot be read", errno), std::nullopt;
    if (read == 0) break;
    got += static_cast<std::size_t>(read);
  }
  if (got > static_cast<std::size_t>(file.st_size)) return problem = "changed while read", std::nullopt;
  bytes.resize(got);
  return bytes;
}

}  // namespace

// Only a regular file is read, and never waited on: a FIFO, a device or a
// socket at the path is refused at once. A symbolic link is followed when
// trusted (as for NN.txt), and the file is then saved to its target.
CheckpointRead CheckpointFile::load() {
  target_ = path_;
  struct stat entry {};
  if (::lstat(path_.c_str(), &entry) != 0) {
    if (errno == ENOENT) return {};
    return {std::nullopt, withError("cannot be read", errno)};
  }
  if (S_ISLNK(entry.st_mode)) {
    if (!trustedLink(path_))
      return {std::nullopt, "a symbolic link that belongs neither to you nor to the directory's owner"};
    char* resolved = ::realpath(path_.c_str(), nullptr);
    if (resolved == nullptr) return {std::nullopt, withError("a symbolic link to nothing", errno)};
    target_ = resolved;
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own allocation
  }
  const int fd = ::open(target_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    return {std::nullopt, withError("cannot be read", errno)};
  }
  std::string problem;
  const std::optional<std::string> bytes = readBounded(fd, problem);
  ::close(fd);
  if (!bytes) return {std::nullopt, problem};
  if (bytes->empty()) return {std::nullopt, "empty (truncated)"};
  return parseCheckpoint(*bytes);
}

namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

}  // namespace

bool CheckpointFile::save(const CheckpointState& state, std::string& problem) const {
  const std::string temporary = target_ + ".tmp." + std::to_string(::getpid());
  const std::string bytes = serializeCheckpoint(state);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  bool saved = fd >= 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  const int error = errno;
  if (fd >= 0 && ::close(fd) != 0) saved = false;
  if (saved && ::rename(temporary.c_str(), target_.c_str()) == 0) {
    // The rename itself reaches the disk with its directory.
    const int dir = ::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }
  problem = std::string("cannot be written (") + std::strerror(saved ? errno : error) + ")";
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace census
