// The pairs file's bytes, and listings that stay right when the file fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "arith/divisor_arithmetic.hpp"
#include "census/dialogue/census.hpp"
#include "census/listing/decimal_counter.hpp"
#include "console/console.hpp"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class PairsListing : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("pairs_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }

  struct Run {
    std::string out;
    std::string err;
  };
  // Runs whole calculations from `answers`; `between` runs after each scan, before the report.
  Run run(const std::string& answers, std::size_t budget = std::size_t{1} << 24) {
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    console::Console console(in, out);
    arith::DivisorArithmetic arithmetic(2);
    census::Census census(console, arithmetic, out, err, census::ProgressLine::Style::Off,
                          (dir_ / "NN.txt").string());
    census.setListingBudget(budget);
    if (tamper) census.setBeforeReport(tamper);
    census.main();
    return {out.str(), err.str()};
  }

  fs::path dir_;
  std::function<void()> tamper;
};

TEST_F(PairsListing, FileBytesAndListingOfSmallIntervalsThenAnEmptyFile) {
  const Run r = run("12 1 1 1 12 12 1 0");
  EXPECT_EQ(r.err, "");
  // The second calculation rewrote the file: one record, 5 bytes.
  EXPECT_EQ(slurp(dir_ / "NN.txt"), "2 12 ");
  EXPECT_NE(r.out.find("[ 1 , 12 ]. \n \n \t  Ces nombres sont :  -  2  -  5  -  9  -  10  -  11  -  "),
            std::string::npos);
  EXPECT_NE(r.out.find("Ces nombres sont :  -  1  -  3  -  4  -  6  -  7  -  8  -  "), std::string::npos);
  EXPECT_NE(r.out.find("[ 12 , 12 ]. \n \n \t  Ces nombres sont :  -  12  -  "), std::string::npos);
  // Twelve records, then emptied by a calculation without listing.
  run("12 1 1 0");
  EXPECT_EQ(slurp(dir_ / "NN.txt"), "1 1 0 2 1 3 1 4 0 5 1 6 1 7 1 8 0 9 0 10 0 11 2 12 ");
  EXPECT_EQ(slurp(dir_ / "NN.txt").size(), 51u);
  run("12 1 1 1 12 1 0 0");
  EXPECT_TRUE(fs::exists(dir_ / "NN.txt"));
  EXPECT_EQ(fs::file_size(dir_ / "NN.txt"), 0u);
}

TEST_F(PairsListing, FewPassesGiveTheSameListingAsOne) {
  // A budget of 3 values forces one pass per count or two; the report must not change.
  const Run wide = run("3000 1 1 0");
  const Run narrow = run("3000 1 1 0", 3);
  EXPECT_EQ(narrow.out, wide.out);
  EXPECT_EQ(wide.err, "");
  // High up, where counts run into the millions and nearly every value has a
  // count of its own (one holds 57059821 preimages): the listing goes from
  // count to count through the ones met only.
  const std::string high = "897612484786617650 897612484786617550 1 0";
  const Run all = run(high);
  const Run few = run(high, 2);
  EXPECT_EQ(few.out, all.out);
  EXPECT_NE(all.out.find("Pour : 57059821 possibilites, il y a  1 valeurs de S dans l'intervalle  [ "
                         "897612484786617550 , 897612484786617650 ]. \n \n \t  Ces nombres sont :  -  "
                         "897612484786617600  -  "),
            std::string::npos);
}

TEST_F(PairsListing, UncreatableFileOrUnwritableDirectoryGivesTheSameListingAndOneWarning) {
  const Run good = run("200 1 1 0");
  fs::remove(dir_ / "NN.txt");
  fs::create_directory(dir_ / "NN.txt");  // a directory in the file's place
  const Run bad = run("200 1 1 0");
  EXPECT_EQ(bad.out, good.out);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1);
  EXPECT_NE(bad.err.find("NN.txt"), std::string::npos);
  if (::geteuid() == 0) return;  // root writes anywhere
  fs::remove(dir_ / "NN.txt");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);  // a directory without write
  const Run unwritable = run("200 1 1 0");
  EXPECT_EQ(unwritable.out, good.out);
  EXPECT_EQ(std::count(unwritable.err.begin(), unwritable.err.end(), '\n'), 1);
}

TEST_F(PairsListing, TamperedFileGivesTheSameListingAndOneWarning) {
  const Run good = run("20000 1 1 0");
  const fs::path file = dir_ / "NN.txt";
  const std::string written = slurp(file);
  struct Case {
    const char* name;
    std::function<void()> change;
  };
  const std::vector<Case> cases = {
      {"cut short", [&] { fs::resize_file(file, written.size() / 2); }},
      {"removed", [&] { fs::remove(file); }},
      {"count altered",
       [&] {
         std::string text = written;
         const std::size_t at = text.find(" 15000 ") - 1;  // the count of 15000
         text[at] = text[at] == '0' ? '1' : '0';
         std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
       }},
      {"stale file", [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << "7 1 7 2 "; }},
      {"trailing data", [&] { std::ofstream(file, std::ios::binary | std::ios::app) << "1 20001 "; }},
      {"garbage", [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << "x"; }},
      {"a byte the writer never writes",
       [&] {
         std::string text = written;
         text[text.find(" 15000 ")] = '\n';
         std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
       }},
      // Longer than the reader's buffer: a field may never grow without bound.
      {"a run of zeros",
       [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(3 << 20, '0'); }},
      {"a long count",
       [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << "00000000000000000001 1 "; }},
  };
  for (const Case& c : cases) {
    tamper = c.change;
    const Run bad = run("20000 1 1 0");
    EXPECT_EQ(bad.out, good.out) << c.name;
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << c.name;
  }
}

TEST(DecimalCounter, CarriesLikeAConversion) {
  census::DecimalCounter counter;
  for (common::Int64 start : {common::Int64{0}, common::Int64{8}, common::Int64{98}, common::Int64{99999990},
                              common::kLargestBound - 3}) {
    counter.set(start);
    for (common::Int64 n = start; n < start + 3; ++n) {
      EXPECT_EQ(counter.text(), std::to_string(n));
      counter.increment();
    }
    EXPECT_EQ(counter.text(), std::to_string(start + 3));
  }
  counter.moveTo(1000);  // a jump converts, a step carries
  counter.moveTo(1001);
  EXPECT_EQ(counter.text(), "1001");
}

}  // namespace
