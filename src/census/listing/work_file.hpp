// Opens the work file NN.txt as only a regular file may be opened: without
// blocking (a FIFO or a device in its place is refused, never waited on), and
// through a symbolic link only when the link belongs to the user running the
// program or to the owner of its directory, the rule the kernel applies in
// shared sticky directories. A link planted by someone else in a folder
// others can write to would otherwise make the program empty that person's
// target.
#pragma once

#include <string>

namespace census {

struct OpenedFile {
  int fd = -1;          // open, blocking again; -1 when refused
  std::string problem;  // why it was refused
};

// For writing: created when missing, emptied once it proves a regular file.
OpenedFile openWorkFileForWriting(const std::string& path);
OpenedFile openWorkFileForReading(const std::string& path);
// For reading and writing on, as found: to resume a file an earlier run left.
OpenedFile openWorkFileForResuming(const std::string& path);

// The directory part of a path: "." for a bare name.
std::string directoryOf(const std::string& path);

// Whether the symbolic link at `path` may be followed: it belongs to the user
// running the program or to the owner of its directory.
bool trustedLink(const std::string& path);

}  // namespace census
