// The command line: bounds as a script writes them, and what is refused.
#include "census/batch/command_line.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

using census::CommandLine;

TEST(Bounds, DecimalPowersOfTenPowersAndBinarySizesExactly) {
  EXPECT_EQ(census::parseBound("12"), 12);
  EXPECT_EQ(census::parseBound("+12"), 12);
  EXPECT_EQ(census::parseBound("1e12"), 1000000000000);
  EXPECT_EQ(census::parseBound("25e3"), 25000);
  EXPECT_EQ(census::parseBound("2^36"), std::int64_t{1} << 36);
  EXPECT_EQ(census::parseBound("2^62"), std::int64_t{1} << 62);
  EXPECT_EQ(census::parseBound("9223372036854775807"), common::kLargestBound);
  EXPECT_EQ(census::parseBound("9e18"), 9000000000000000000);
  EXPECT_EQ(census::parseBound("1^0"), 1);
  const char* const malformed[] = {"0",  "-1", "",    "+",   "01",  "1.5e3", "1e",
                                   "e3", "2^", "0^5", "0e3", "0^0", "1 2",   "0x10"};
  const char* const tooLarge[] = {
      "2^64", "2^63", "10e18", "1e19", "9223372036854775808", "99999999999999999999"};
  for (const char* refused : malformed) EXPECT_FALSE(census::parseBound(refused).has_value()) << refused;
  for (const char* refused : tooLarge) EXPECT_FALSE(census::parseBound(refused).has_value()) << refused;
  EXPECT_EQ(census::parseSize("512M"), std::uint64_t{512} << 20);
  EXPECT_EQ(census::parseSize("4G"), std::uint64_t{4} << 30);
  EXPECT_EQ(census::parseSize("100K"), std::uint64_t{100} << 10);
  EXPECT_EQ(census::parseSize("1000"), 1000u);
  for (const char* refused : {"", "M", "abc", "1.5G", "-1M", "4T", "99999999999999999999G", "17179869184G"})
    EXPECT_FALSE(census::parseSize(refused).has_value()) << refused;
}

CommandLine parse(std::vector<const char*> args, std::string* errors = nullptr) {
  args.insert(args.begin(), "sigma-census");
  std::ostringstream out;
  std::ostringstream err;
  const CommandLine line = census::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
  if (errors != nullptr) *errors = err.str();
  return line;
}

TEST(CommandLine, NoBoundsIsTheDialogueWithItsOptionsAndHelpOrVersionEndWithSuccess) {
  const CommandLine line = parse({"--threads=3", "--memory=1G"});
  EXPECT_EQ(line.action, CommandLine::Action::Dialogue);
  EXPECT_EQ(line.threads, 3u);
  EXPECT_EQ(line.memoryCap, std::uint64_t{1} << 30);
  EXPECT_EQ(parse({"--help"}).exitStatus, 0);
  EXPECT_EQ(parse({"--help"}).action, CommandLine::Action::Exit);
  EXPECT_EQ(parse({"--version"}).exitStatus, 0);
}

TEST(CommandLine, ABatchCensusWithEveryOption) {
  const CommandLine line = parse(
      {"--format=json", "--list", "--progress", "--checkpoint=run.ck", "--threads", "2", "1e3", "2^11"});
  EXPECT_EQ(line.action, CommandLine::Action::Batch);
  EXPECT_EQ(line.L1, 1000);
  EXPECT_EQ(line.L2, 2048);
  EXPECT_EQ(line.format, census::Format::Json);
  EXPECT_TRUE(line.list);
  EXPECT_TRUE(line.progress);
  EXPECT_EQ(line.checkpoint, "run.ck");
  EXPECT_EQ(line.threads, 2u);
}

TEST(CommandLine, RefusedLinesSayWhichArgumentAndWhy) {
  const std::vector<std::pair<std::vector<const char*>, const char*>> refused = {
      {{"0", "5"}, "L1 '0'"},
      {{"5", "3"}, "above L2"},
      {{"1", "9223372036854775808"}, "L2 '9223372036854775808'"},
      {{"1", "2", "3"}, "3"},
      {{"--threads=0", "1", "2"}, "--threads"},
      {{"--memory=abc", "1", "2"}, "--memory=abc"},
      {{"--memory=15M", "1", "2"}, "16M"},
      {{"--format=xml", "1", "2"}, "--format=xml"},
      {{"--checkpoint=x"}, "need the bounds"},
      {{"--no-such-option", "1", "2"}, "--no-such-option"},
      {{"4"}, "L2 missing"},
      // Empty bounds and empty option values are refused, never taken as
      // the dialogue or as the next argument.
      {{"", ""}, "L1 '': an empty bound"},
      {{"", "5"}, "L1 '': an empty bound"},
      {{"5", ""}, "L2 '': an empty bound"},
      {{"--checkpoint=", "5", "10", "20"}, "--checkpoint=: an empty value"},
      {{"--memory=", "--format=tsv", "1", "10"}, "--memory=: an empty value"},
      {{"--threads=", "1", "10"}, "--threads=: an empty value"},
      {{"--list=", "1", "10"}, "--list=: an empty value"},
      {{"--checkpoint", "", "1", "10"}, "--checkpoint: an empty value"},
      {{"0^0", "5"}, "L1 '0^0'"},
  };
  for (const auto& [args, named] : refused) {
    std::string errors;
    const CommandLine line = parse(args, &errors);
    EXPECT_EQ(line.action, CommandLine::Action::Exit) << named;
    EXPECT_EQ(line.exitStatus, census::kUsageError) << named;
    EXPECT_NE(errors.find(named), std::string::npos) << errors;
    EXPECT_NE(errors.find("--help"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  }
}

TEST(CommandLine, LongArgumentsAreCutInTheErrorLine) {
  const std::string bound(100000, '7');
  std::string errors;
  EXPECT_EQ(parse({"1", bound.c_str()}, &errors).exitStatus, census::kUsageError);
  EXPECT_LT(errors.size(), 200u) << errors.size();
  EXPECT_NE(errors.find("(100000 characters)"), std::string::npos) << errors;
  const std::string extra = "--" + std::string(5000, 'x');
  EXPECT_EQ(parse({extra.c_str(), "1", "2"}, &errors).exitStatus, census::kUsageError);
  EXPECT_LT(errors.size(), 500u) << errors.size();
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

}  // namespace
