// The command line: with no bounds, the dialogue; with two, one batch census.
// Parsed by CLI11; bounds, sizes and thread counts are checked here, before
// anything is computed or any file touched.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "common/widths.hpp"

namespace census {

enum class Format { Text, Tsv, Json };

struct CommandLine {
  enum class Action { Dialogue, Batch, Preimages, Exit };
  Action action = Action::Dialogue;
  int exitStatus = 0;  // with Action::Exit: after --help, --version or a refused line

  unsigned threads = 0;         // 0: every core
  std::uint64_t memoryCap = 0;  // bytes; 0: as the machine allows
  bool progress = false;        // progress lines even when standard error is no terminal

  // The batch census.
  common::Int64 L1 = 0;
  common::Int64 L2 = 0;
  Format format = Format::Text;
  bool list = false;
  std::string checkpoint;    // empty: none
  bool doubleCheck = false;  // each block's sample counted again by the inversion

  // With Action::Preimages: the value whose preimages are listed.
  common::Int64 S = 0;
};

// Exit statuses of the batch census besides those of the dialogue.
inline constexpr int kUsageError = 64;       // a refused command line
inline constexpr int kCheckpointError = 65;  // a checkpoint file that cannot be trusted
// The double check found a count that its second count does not confirm.
inline constexpr int kDoubleCheckFailed = 70;
// A checkpoint file that cannot be written: refused before anything is
// computed, or (after a complete output) one whose last save failed.
inline constexpr int kCheckpointUnwritable = 73;

// Parses argv. --help and --version are written to `out`; a refused command
// line writes one line to `err` and gives Action::Exit with kUsageError.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// A bound as the dialogue accepts it (0, or 1-9 then digits, one + in front
// allowed), or A e B or A ^ B with A and B such numbers: an exact integer
// from 1 to 2^63 - 1, else nothing.
std::optional<common::Int64> parseBound(std::string_view text);
// A size in bytes: digits, then nothing, K, M or G (binary multiples).
std::optional<std::uint64_t> parseSize(std::string_view text);

}  // namespace census
