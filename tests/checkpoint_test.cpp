// The checkpoint's record of finished ranges, its file, and the pairs file
// taken up where a checkpoint left it.
#include "census/checkpoint/checkpoint.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "census/checkpoint/checkpoint_file.hpp"
#include "census/listing/pairs_file.hpp"

namespace {

using census::CheckpointState;
using census::ValueRange;

CheckpointState stateOf(std::int64_t L1, std::int64_t L2, bool list) {
  CheckpointState state;
  state.L1 = L1;
  state.L2 = L2;
  state.list = list;
  return state;
}

// A checkpoint body with the checksum that fits it.
std::string withHash(const std::string& body) {
  char line[32];
  std::snprintf(line, sizeof line, "xxh64 %016llx\n",
                static_cast<unsigned long long>(XXH64(body.data(), body.size(), 0)));
  return body + line;
}

TEST(CheckpointState, RangesMergeInAnyOrderAndLeaveTheGaps) {
  CheckpointState state = stateOf(10, 100, false);
  state.finish(50, 59);
  state.finish(10, 19);
  state.finish(20, 29);  // touches the first: merged
  state.finish(90, 100);
  EXPECT_EQ(state.done, (std::vector<ValueRange>{{10, 29}, {50, 59}, {90, 100}}));
  EXPECT_EQ(state.missing(), (std::vector<ValueRange>{{30, 49}, {60, 89}}));
  EXPECT_FALSE(state.complete());
  state.finish(30, 49);
  state.finish(60, 89);
  EXPECT_TRUE(state.complete());
  EXPECT_TRUE(state.missing().empty());
  EXPECT_EQ(stateOf(1, 5, false).missing(), (std::vector<ValueRange>{{1, 5}}));
}

TEST(CheckpointFormat, WhatIsWrittenReadsBackTheSame) {
  CheckpointState state = stateOf(1000, 9223372036854775807, false);
  state.finish(1000, 1999);
  state.finish(5000, 5999);
  state.histogram.add(0, 1500);
  state.histogram.add(3, 499);
  state.histogram.add(4957364730, 1);
  const auto read = census::parseCheckpoint(census::serializeCheckpoint(state));
  ASSERT_TRUE(read.state.has_value()) << read.problem;
  EXPECT_EQ(*read.state, state);
  CheckpointState list = stateOf(1, 12, true);
  list.finish(1, 12);
  list.histogram.add(0, 5);
  list.histogram.add(1, 6);
  list.histogram.add(2, 1);
  list.pairsBytes = 51;
  list.pairsHash = 0x0123456789abcdefULL;
  const std::string text = census::serializeCheckpoint(list);
  EXPECT_NE(text.find("complete 1\n"), std::string::npos);
  const auto listRead = census::parseCheckpoint(text);
  ASSERT_TRUE(listRead.state.has_value()) << listRead.problem;
  EXPECT_EQ(*listRead.state, list);
  // The double check's mark: written only when set, read back; a file
  // without it (as earlier versions wrote them) reads as not checked.
  EXPECT_EQ(text.find("checked"), std::string::npos);
  list.checked = true;
  const std::string checked = census::serializeCheckpoint(list);
  EXPECT_NE(checked.find("\nchecked 1\n"), std::string::npos);
  const auto checkedRead = census::parseCheckpoint(checked);
  ASSERT_TRUE(checkedRead.state.has_value()) << checkedRead.problem;
  EXPECT_TRUE(checkedRead.state->checked);
  std::string zero = checked.substr(0, checked.rfind("xxh64 "));
  zero.replace(zero.find("checked 1"), 9, "checked 0");
  EXPECT_FALSE(census::parseCheckpoint(withHash(zero)).state.has_value());
}

TEST(CheckpointFormat, AnyAlterationOrInconsistencyOrImplausibleHistogramIsRefused) {
  CheckpointState state = stateOf(1, 100, false);
  state.finish(1, 40);
  state.histogram.add(0, 30);
  state.histogram.add(1, 10);
  const std::string good = census::serializeCheckpoint(state);
  // Every truncation, and every single changed byte, fails.
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_FALSE(census::parseCheckpoint(good.substr(0, cut)).state.has_value()) << cut;
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x04);
    EXPECT_FALSE(census::parseCheckpoint(bad).state.has_value()) << at;
  }
  // Well hashed, but wrong inside: a histogram that does not add up to the ranges.
  CheckpointState wrong = state;
  wrong.histogram.add(2, 1);
  const auto read = census::parseCheckpoint(census::serializeCheckpoint(wrong));
  EXPECT_FALSE(read.state.has_value());
  EXPECT_NE(read.problem.find("histogram"), std::string::npos);
  // A listing whose ranges do not start at L1.
  CheckpointState gap = stateOf(1, 100, true);
  gap.finish(5, 10);
  gap.histogram.add(0, 6);
  EXPECT_FALSE(census::parseCheckpoint(census::serializeCheckpoint(gap)).state.has_value());
  // [1, 1000] complete, every value said to have 1000 preimages: it adds up
  // to the ranges, but a million m would have sigma(m) <= 1000.
  CheckpointState forged = stateOf(1, 1000, false);
  forged.finish(1, 1000);
  forged.histogram.add(1000, 1000);
  const auto implausible = census::parseCheckpoint(census::serializeCheckpoint(forged));
  EXPECT_FALSE(implausible.state.has_value());
  EXPECT_NE(implausible.problem.find("preimages"), std::string::npos);
  // The bound holds for the true census (about 0.6 x of m have sigma(m) <= x)
  // and is exceeded by one more preimage than it allows.
  EXPECT_EQ(census::preimageBound(12), 12 / 2 + 12 / 3 + 2);
  arith::CountHistogram atBound;
  atBound.add(1, census::preimageBound(1000));
  EXPECT_TRUE(census::plausibleCounts(atBound, 1000));
  atBound.add(1);
  EXPECT_FALSE(census::plausibleCounts(atBound, 1000));
  // Counts near 2^63 multiply without overflow.
  arith::CountHistogram huge;
  huge.add(common::kLargestBound, common::kLargestBound);
  huge.add(common::kLargestBound - 1, common::kLargestBound);
  EXPECT_FALSE(census::plausibleCounts(huge, common::kLargestBound));
}

TEST(CheckpointFormat, RangesAtTheTopOfTheRange) {
  // Finished ranges that end at 2^63 - 2 and 2^63 - 1: no overflow in the
  // check that ranges stay apart (the sanitizer build watches it).
  constexpr std::int64_t top = common::kLargestBound;
  CheckpointState state = stateOf(top - 9, top, false);
  state.finish(top - 9, top - 5);
  state.finish(top - 3, top - 2);
  state.histogram.add(0, 7);
  const auto read = census::parseCheckpoint(census::serializeCheckpoint(state));
  ASSERT_TRUE(read.state.has_value()) << read.problem;
  EXPECT_EQ(read.state->missing(), (std::vector<ValueRange>{{top - 4, top - 4}, {top - 1, top}}));
  state.finish(top - 1, top);
  state.histogram.add(0, 2);
  const auto upToTop = census::parseCheckpoint(census::serializeCheckpoint(state));
  ASSERT_TRUE(upToTop.state.has_value()) << upToTop.problem;
  EXPECT_EQ(upToTop.state->done.back(), (ValueRange{top - 3, top}));
  // A range touching the one that ends at 2^63 - 2 is refused, not wrapped.
  std::string body = census::serializeCheckpoint(read.state.value());
  body.resize(body.rfind("xxh64 "));
  body.insert(body.find("count "), "done " + std::to_string(top - 1) + " " + std::to_string(top) + "\n");
  const auto touching = census::parseCheckpoint(withHash(body));
  EXPECT_FALSE(touching.state.has_value());
  EXPECT_NE(touching.problem.find("range"), std::string::npos) << touching.problem;
}

class CheckpointFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) / ("checkpoint_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(CheckpointFiles, SavedAtomicallyAndLoaded) {
  census::CheckpointFile file((dir_ / "run.ck").string());
  const auto none = file.load();
  EXPECT_FALSE(none.state.has_value());
  EXPECT_TRUE(none.problem.empty());
  CheckpointState state = stateOf(1, 10, false);
  state.finish(1, 4);
  state.histogram.add(1, 4);
  std::string problem;
  ASSERT_TRUE(file.save(state, problem)) << problem;
  const auto loaded = file.load();
  ASSERT_TRUE(loaded.state.has_value()) << loaded.problem;
  EXPECT_EQ(*loaded.state, state);
  // Nothing but the file itself is left in its directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  std::ofstream(dir_ / "run.ck", std::ios::trunc).close();
  EXPECT_FALSE(file.load().problem.empty());  // empty: truncated
  const census::CheckpointFile nowhere((dir_ / "missing" / "run.ck").string());
  EXPECT_FALSE(nowhere.save(state, problem));
  EXPECT_FALSE(problem.empty());
}

TEST_F(CheckpointFiles, OnlyRegularFilesAreReadAndLinksAreSavedThrough) {
  // A FIFO, a directory and a device are refused at once, never waited on.
  const std::string fifo = (dir_ / "fifo.ck").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir_.string(), std::string("/dev/zero"), std::string("/dev/null")}) {
    census::CheckpointFile file(path);
    const auto read = file.load();
    EXPECT_FALSE(read.state.has_value()) << path;
    EXPECT_NE(read.problem.find("not a regular file"), std::string::npos) << path << ": " << read.problem;
  }
  // A file larger than any checkpoint is refused unread.
  const std::string big = (dir_ / "big.ck").string();
  std::ofstream(big).close();
  std::filesystem::resize_file(big, census::kLargestCheckpoint + 1);
  EXPECT_NE(census::CheckpointFile(big).load().problem.find("larger"), std::string::npos);
  // A link of one's own is followed: saved to its target, the link kept.
  std::filesystem::create_directories(dir_ / "disk");
  std::filesystem::create_symlink(dir_ / "disk" / "real.ck", dir_ / "link.ck");
  census::CheckpointFile dangling((dir_ / "link.ck").string());
  EXPECT_NE(dangling.load().problem.find("link to nothing"), std::string::npos);
  std::ofstream(dir_ / "disk" / "real.ck").close();
  CheckpointState state = stateOf(1, 10, false);
  state.finish(1, 2);
  state.histogram.add(1, 2);
  census::CheckpointFile linked((dir_ / "link.ck").string());
  EXPECT_NE(linked.load().problem.find("empty"), std::string::npos);
  std::string problem;
  ASSERT_TRUE(linked.save(state, problem)) << problem;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.ck"));
  const auto again = linked.load();
  ASSERT_TRUE(again.state.has_value()) << again.problem;
  EXPECT_EQ(*again.state, state);
}

TEST_F(CheckpointFiles, ThePairsFileIsTakenUpWhereItsCheckpointLeftIt) {
  const std::string path = (dir_ / "NN.txt").string();
  census::PairsFile whole(path);
  whole.open();
  const std::int64_t counts[] = {1, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 2};
  for (std::int64_t k = 0; k < 12; ++k) whole.record(counts[k], k + 1);
  whole.close();
  std::ifstream in(path);
  const std::string expected((std::istreambuf_iterator<char>(in)), {});

  census::PairsFile first(path);
  first.open();
  for (std::int64_t k = 0; k < 7; ++k) first.record(counts[k], k + 1);
  ASSERT_TRUE(first.sync());
  const std::uint64_t bytes = first.bytes();
  const std::uint64_t hash = first.hash();
  first.record(counts[7], 8);  // written after the checkpoint: cut off on resume
  first.close();

  census::PairsFile resumed(path);
  arith::CountHistogram tally;
  ASSERT_TRUE(resumed.resume(1, 7, bytes, hash, &tally)) << resumed.reason();
  arith::CountHistogram firstSeven;
  for (std::int64_t k = 0; k < 7; ++k) firstSeven.add(counts[k]);
  EXPECT_EQ(tally, firstSeven);
  for (std::int64_t k = 7; k < 12; ++k) resumed.record(counts[k], k + 1);
  resumed.close();
  std::ifstream again(path);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), expected);
  EXPECT_EQ(resumed.chunkChecksums(), whole.chunkChecksums());

  // A file that no longer holds what its checkpoint says is not taken up.
  census::PairsFile wrongCount(path);
  EXPECT_FALSE(wrongCount.resume(1, 6, bytes, hash, nullptr));
  census::PairsFile wrongHash(path);
  EXPECT_FALSE(wrongHash.resume(1, 7, bytes, hash ^ 1, nullptr));
  std::filesystem::resize_file(path, bytes - 3);
  census::PairsFile shortFile(path);
  EXPECT_FALSE(shortFile.resume(1, 7, bytes, hash, nullptr));
}

}  // namespace
