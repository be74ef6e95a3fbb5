#include "census/batch/command_line.hpp"

#include <CLI/CLI.hpp>
#include <limits>
#include <sstream>

#include "arith/plan/memory_budget.hpp"
#include "census/report/texts.hpp"

#ifndef SIGMA_VERSION
#define SIGMA_VERSION "unknown"
#endif
#if __has_include("sigma_commit.hpp")
#include "sigma_commit.hpp"  // written by the build
#endif
#ifndef SIGMA_COMMIT
#define SIGMA_COMMIT "unknown"
#endif

namespace census {

using common::Int64;

namespace {

// Digits as the dialogue's integer answers take them: no leading zero, at
// most one + in front; nothing above 2^63 - 1.
std::optional<Int64> parseDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || (text.front() == '0' && text.size() > 1)) return std::nullopt;
  Int64 value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const Int64 digit = c - '0';
    if (value > (common::kLargestBound - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// base^exponent when it stays within 2^63 - 1.
std::optional<Int64> power(Int64 base, Int64 exponent) {
  Int64 result = 1;
  for (Int64 k = 0; k < exponent; ++k) {
    if (base != 0 && result > common::kLargestBound / base) return std::nullopt;
    result *= base;
    if (result == 0 || (result == 1 && base == 1)) return result;  // the rest changes nothing
  }
  return result;
}

CommandLine exitWith(int status) {
  CommandLine line;
  line.action = CommandLine::Action::Exit;
  line.exitStatus = status;
  return line;
}

// One line, however long the arguments it echoes: each argument is cut
// where it passes kEchoed characters, and the line's own breaks are blanks.
constexpr std::size_t kEchoed = 60;
constexpr std::size_t kLongestLine = 400;

std::string usageLine(std::string what) {
  if (what.size() > kLongestLine) what = what.substr(0, kLongestLine) + "...";
  for (char& c : what)
    if (c == '\n' || c == '\r') c = ' ';
  return std::string(texts::kProgramPrefix) + what + " (see --help)\n";
}

// An argument as an error line shows it: cut when long.
std::string cut(const std::string& argument) {
  if (argument.size() <= kEchoed) return argument;
  return argument.substr(0, kEchoed) + "... (" + std::to_string(argument.size()) + " characters)";
}

std::string quoted(const std::string& argument) { return "'" + cut(argument) + "'"; }

// An option written --name= with nothing after the sign: CLI11 would take the
// next argument as its value, so a bound would quietly become a file name.
std::string emptyOptionValue(int argc, const char* const* argv) {
  for (int k = 1; k < argc; ++k) {
    const std::string_view argument = argv[k];
    if (argument == "--") break;  // what follows is positional
    if (argument.size() > 3 && argument.starts_with("--") && argument.ends_with("=") &&
        argument.find('=') == argument.size() - 1)
      return std::string(argument) + ": an empty value";
  }
  return "";
}

}  // namespace

std::optional<Int64> parseBound(std::string_view text) {
  std::optional<Int64> value;
  const auto mark = text.find_first_of("e^");
  if (mark == std::string_view::npos) {
    value = parseDecimal(text);
  } else {
    const auto left = parseDecimal(text.substr(0, mark));
    const auto right = parseDecimal(text.substr(mark + 1));
    // 0^0 has no agreed value: refused rather than read as 1.
    if (!left || !right || (text[mark] == '^' && *left == 0 && *right == 0)) return std::nullopt;
    value = text[mark] == 'e' ? power(10, *right) : power(*left, *right);
    if (value && text[mark] == 'e') {
      if (*left != 0 && *value > common::kLargestBound / *left) return std::nullopt;
      value = *left * *value;
    }
  }
  if (!value || *value < 1) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> parseSize(std::string_view text) {
  unsigned shift = 0;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
        shift = 10;
        break;
      case 'M':
        shift = 20;
        break;
      case 'G':
        shift = 30;
        break;
      default:
        break;
    }
    if (shift != 0) text.remove_suffix(1);
  }
  const auto number = parseDecimal(text);
  if (!number || static_cast<std::uint64_t>(*number) > (std::numeric_limits<std::uint64_t>::max() >> shift))
    return std::nullopt;
  return static_cast<std::uint64_t>(*number) << shift;
}

namespace {

// What CLI11 knows of the line: the options' texts, not yet checked.
struct RawLine {
  std::string L1, L2, memory, format = "text", checkpoint, preimages;
  unsigned threads = 0;
  bool threadsGiven = false;
  bool boundsGiven = false;  // even empty ones: "" is a bound, and a wrong one
  bool L2Given = false;
  bool preimagesGiven = false;
};

void describe(CLI::App& app, RawLine& raw, CommandLine& line) {
  app.add_option("L1", raw.L1, "lower bound of the interval (12, +12, 1e12 or 2^40)");
  app.add_option("L2", raw.L2, "upper bound, at most 9223372036854775807");
  app.add_option("--threads", raw.threads, "threads per process (default: every core)");
  app.add_option("--memory", raw.memory,
                 "upper bound on the memory budget, e.g. 512M or 4G (suffixes K, M, G)");
  app.add_option("--format", raw.format, "text (the dialogue's report), tsv or json");
  app.add_flag("--list", line.list, "list every value with its count (kept in ./NN.txt while counted)");
  app.add_flag("--double-check", line.doubleCheck,
               "count a sample of every block again by the inversion; a difference ends the run (70)");
  app.add_flag("--progress", line.progress, "progress lines on standard error, every 10 s or so");
  app.add_option("--checkpoint", raw.checkpoint, "keep finished ranges in FILE; run again to resume")
      ->type_name("FILE");
  app.add_option("--preimages", raw.preimages, "list every m with sigma(m) = S, in increasing order")
      ->type_name("S");
  app.set_version_flag("--version",
                       std::string("sigma-census ") + SIGMA_VERSION + " (commit " + SIGMA_COMMIT + ")");
  app.footer(std::string(texts::kExitStatuses));
}

// --preimages S: one value, with --format, --threads and --memory alone.
std::string checkPreimages(const RawLine& raw, CommandLine& line) {
  if (raw.boundsGiven || line.list || !line.checkpoint.empty() || line.doubleCheck)
    return "--preimages takes one value S, without L1 L2, --list, --checkpoint or --double-check";
  const auto S = parseBound(raw.preimages);
  if (!S) return "--preimages " + quoted(raw.preimages) + ": not an integer from 1 to 9223372036854775807";
  line.S = *S;
  line.action = CommandLine::Action::Preimages;
  return "";
}

// Checks what CLI11 let through; an empty string when all is well.
std::string check(const RawLine& raw, CommandLine& line) {
  if (raw.threadsGiven && (raw.threads == 0 || raw.threads > 4096))
    return "--threads=" + std::to_string(raw.threads) + ": from 1 to 4096 threads";
  line.threads = raw.threads;
  if (!raw.memory.empty()) {
    const auto size = parseSize(raw.memory);
    if (!size) return "--memory=" + cut(raw.memory) + ": not a size (digits, then K, M or G)";
    if (*size < arith::kLeastBudget)
      return "--memory=" + cut(raw.memory) + ": below the least budget that works, " +
             std::to_string(arith::kLeastBudget >> 20) + "M";
    line.memoryCap = *size;
  }
  if (raw.format == "text")
    line.format = Format::Text;
  else if (raw.format == "tsv")
    line.format = Format::Tsv;
  else if (raw.format == "json")
    line.format = Format::Json;
  else
    return "--format=" + cut(raw.format) + ": text, tsv or json";
  line.checkpoint = raw.checkpoint;
  if (raw.preimagesGiven) return checkPreimages(raw, line);
  if (!raw.boundsGiven) {
    if (line.list || !line.checkpoint.empty() || raw.format != "text" || line.doubleCheck)
      return "--list, --format, --checkpoint and --double-check need the bounds L1 L2";
    line.action = CommandLine::Action::Dialogue;
    return "";
  }
  if (raw.L1.empty()) return "L1 '': an empty bound";
  if (raw.L2.empty()) return raw.L2Given ? "L2 '': an empty bound" : "L2 missing: give both bounds, L1 L2";
  const auto L1 = parseBound(raw.L1);
  if (!L1) return "L1 " + quoted(raw.L1) + ": not an integer from 1 to 9223372036854775807";
  const auto L2 = parseBound(raw.L2);
  if (!L2) return "L2 " + quoted(raw.L2) + ": not an integer from 1 to 9223372036854775807";
  if (*L1 > *L2) return "L1 " + quoted(raw.L1) + " above L2 " + quoted(raw.L2);
  line.L1 = *L1;
  line.L2 = *L2;
  line.action = CommandLine::Action::Batch;
  return "";
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "sigma-census: for every S of [L1, L2], how many m have sigma(m) = S, by count.\n"
      "With no bounds, the interactive dialogue (in French).",
      "sigma-census"};
  RawLine raw;
  CommandLine line;
  describe(app, raw, line);
  if (const std::string empty = emptyOptionValue(argc, argv); !empty.empty()) {
    err << usageLine(empty);
    return exitWith(kUsageError);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return exitWith(0);
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << '\n';
    return exitWith(0);
  } catch (const CLI::ParseError& error) {
    err << usageLine(error.what());
    return exitWith(kUsageError);
  }
  raw.threadsGiven = app.count("--threads") > 0;
  // An empty value given as a separate argument ("--checkpoint ''") is refused too.
  for (const auto& [name, value] :
       {std::pair{"--memory", &raw.memory}, std::pair{"--format", &raw.format},
        std::pair{"--checkpoint", &raw.checkpoint}, std::pair{"--preimages", &raw.preimages}}) {
    if (app.count(name) > 0 && value->empty()) {
      err << usageLine(std::string(name) + ": an empty value");
      return exitWith(kUsageError);
    }
  }
  raw.boundsGiven = app.count("L1") > 0;
  raw.L2Given = app.count("L2") > 0;
  raw.preimagesGiven = app.count("--preimages") > 0;
  const std::string problem = check(raw, line);
  if (!problem.empty()) {
    err << usageLine(problem);
    return exitWith(kUsageError);
  }
  return line;
}

}  // namespace census
