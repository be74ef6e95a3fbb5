// The checkpoint's record of finished ranges, its file, and the pairs file
// taken up where a checkpoint left it.
#include "census/checkpoint.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "census/pairs_file.hpp"

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
}

TEST(CheckpointFormat, AnyAlterationOrInconsistencyIsRefused) {
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
  const census::CheckpointFile file((dir_ / "run.ck").string());
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
  ASSERT_TRUE(resumed.resume(1, 7, bytes, hash)) << resumed.reason();
  for (std::int64_t k = 7; k < 12; ++k) resumed.record(counts[k], k + 1);
  resumed.close();
  std::ifstream again(path);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), expected);
  EXPECT_EQ(resumed.chunkChecksums(), whole.chunkChecksums());

  // A file that no longer holds what its checkpoint says is not taken up.
  census::PairsFile wrongCount(path);
  EXPECT_FALSE(wrongCount.resume(1, 6, bytes, hash));
  census::PairsFile wrongHash(path);
  EXPECT_FALSE(wrongHash.resume(1, 7, bytes, hash ^ 1));
  std::filesystem::resize_file(path, bytes - 3);
  census::PairsFile shortFile(path);
  EXPECT_FALSE(shortFile.resume(1, 7, bytes, hash));
}

}  // namespace
