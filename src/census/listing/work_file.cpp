#include "census/listing/work_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace census {

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

namespace {

std::string withError(const char* what, int error) {
  return std::string(what) + " (" + std::strerror(error) + ")";
}

bool sameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ownerTrusted(const struct stat& link, const std::string& path) {
  struct stat dir {};
  if (::stat(directoryOf(path).c_str(), &dir) != 0) return false;
  return link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

// Follows the symbolic link at `path` when its owner may be trusted, and
// checks that the link opened is the one that was judged.
OpenedFile openThroughLink(const std::string& path, int flags) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return {-1, withError("lien inaccessible", errno)};
  if (!ownerTrusted(link, path))
    return {-1, "lien symbolique refuse (ni a l'utilisateur, ni au proprietaire du dossier)"};
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return {-1, withError("ouverture impossible", errno)};
  struct stat again {};
  if (::lstat(path.c_str(), &again) != 0 || !S_ISLNK(again.st_mode) || !sameInode(again, link) ||
      again.st_uid != link.st_uid) {
    ::close(fd);
    return {-1, "lien symbolique remplace pendant l'ouverture"};
  }
  return {fd, ""};
}

OpenedFile openRegular(const std::string& path, int flags) {
  flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  OpenedFile opened{::open(path.c_str(), flags | O_NOFOLLOW, 0666), ""};
  if (opened.fd < 0 && errno == ELOOP) {
    opened = openThroughLink(path, flags);
  } else if (opened.fd < 0) {
    opened.problem =
        withError((flags & O_CREAT) != 0 ? "creation impossible" : "relecture impossible", errno);
  }
  if (opened.fd < 0) return opened;
  struct stat file {};
  if (::fstat(opened.fd, &file) != 0 || !S_ISREG(file.st_mode)) {
    ::close(opened.fd);
    return {-1, "pas un fichier ordinaire"};
  }
  // A regular file never blocks; the flag is dropped for the writes to come.
  const int status = ::fcntl(opened.fd, F_GETFL);
  if (status == -1 || ::fcntl(opened.fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(opened.fd);
    return {-1, withError("ouverture impossible", error)};
  }
  return opened;
}

}  // namespace

bool trustedLink(const std::string& path) {
  struct stat link {};
  return ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ownerTrusted(link, path);
}

OpenedFile openWorkFileForWriting(const std::string& path) {
  OpenedFile opened = openRegular(path, O_WRONLY | O_CREAT);
  if (opened.fd >= 0 && ::ftruncate(opened.fd, 0) != 0) {
    const int error = errno;
    ::close(opened.fd);
    return {-1, withError("creation impossible", error)};
  }
  return opened;
}

OpenedFile openWorkFileForReading(const std::string& path) { return openRegular(path, O_RDONLY); }

OpenedFile openWorkFileForResuming(const std::string& path) { return openRegular(path, O_RDWR); }

}  // namespace census
