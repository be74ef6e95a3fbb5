// The checkpoint's file: read only when it is a regular file, and replaced
// atomically (a temporary file in the same directory, written, flushed to
// disk, renamed over it), so that a kill leaves the old one or the new.
#pragma once

#include <cstdint>
#include <string>

#include "census/checkpoint/checkpoint.hpp"

namespace census {

// No checkpoint is this large: its records are a few per finished range and
// per count met. A larger file is refused unread.
inline constexpr std::uint64_t kLargestCheckpoint = std::uint64_t{64} << 20;

class CheckpointFile {
 public:
  explicit CheckpointFile(std::string path) : path_(path), target_(std::move(path)) {}

  // No file: an empty read with no problem. Otherwise the file, checked: only
  // a regular file (or a trusted symbolic link to one, whose target the saves
  // then replace), never waited on, never read past kLargestCheckpoint.
  CheckpointRead load();
  // Replaces the file atomically; false (and `problem`) when it could not.
  bool save(const CheckpointState& state, std::string& problem) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string target_;  // path_, or the target of the trusted link there
};

}  // namespace census
