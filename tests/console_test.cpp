// Answers accepted and refused by the console, and how often the prompt goes out.
#include "console/console.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using console::Console;

struct Asked {
  common::Int64 value;
  int prompts;  // how many times the prompt was written
  bool ended;   // the input ended before a valid answer
};

Asked ask(int cas, int xn, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  Console c(in, out);
  c.xn = xn;
  c.valeur0 = -1;
  c.valeur2 = -1;
  bool ended = false;
  try {
    c.controle(cas, "?");
  } catch (const console::EndOfInput&) {
    ended = true;
  }
  const common::Int64 value = cas == Console::kInteger ? c.valeur0 : c.valeur2;
  return {value, static_cast<int>(out.str().size()), ended};
}

TEST(Console, IntegerAnswersAcceptedAsTheyAreOrRefusedAndAskedAgain) {
  for (int xn : {0, 1}) {
    EXPECT_EQ(ask(9, xn, "7").value, 7);
    EXPECT_EQ(ask(9, xn, "10").value, 10);
    EXPECT_EQ(ask(9, xn, "100").value, 100);
    EXPECT_EQ(ask(9, xn, "+7").value, 7);
    EXPECT_EQ(ask(9, xn, "+10").value, 10);
    EXPECT_EQ(ask(9, xn, "9223372036854775807").value, 9223372036854775807);
  }
  EXPECT_EQ(ask(9, 0, "0").value, 0);
  // Each refused token costs one prompt; the 5 after it is then accepted.
  for (const char* bad : {"+", "-", "-7", "00", "07", "+0", "+07", "++7", "7+", "7-", "1-2", "12a", "1.5",
                          "1e3", "9223372036854775808", "99999999999999999999", "\xe9", "0x10"}) {
    for (int xn : {0, 1}) {
      const Asked a = ask(9, xn, std::string(bad) + " 5");
      EXPECT_EQ(a.value, 5) << bad;
      EXPECT_EQ(a.prompts, 2) << bad;
    }
  }
  // The zero guard refuses 0 only while it is 1.
  EXPECT_EQ(ask(9, 1, "0 3").value, 3);
  EXPECT_EQ(ask(9, 1, "0 3").prompts, 2);
}

TEST(Console, ChoiceAnswers) {
  EXPECT_EQ(ask(1, 0, "0").value, 0);
  EXPECT_EQ(ask(1, 0, "1").value, 1);
  EXPECT_EQ(ask(3, 0, "2").value, 2);
  for (const char* bad : {"2", "01", "10", "+1", "o", "-1"}) {
    const Asked a = ask(1, 0, std::string(bad) + "\n1");
    EXPECT_EQ(a.value, 1) << bad;
    EXPECT_EQ(a.prompts, 2) << bad;
  }
}

TEST(Console, TokensAndSeparatorsAndLongTokensRefusedWithoutOverrun) {
  // Several tokens on a line: each read takes one, the rest stays for the next.
  EXPECT_EQ(ask(9, 1, "abc 12").prompts, 2);
  EXPECT_EQ(ask(9, 1, "abc 12").value, 12);
  // Blank lines do not put the question again; tabs, CR and form feeds separate tokens.
  const Asked blank = ask(9, 1, "\n\n   \t\r\n\f\v 42\r\n");
  EXPECT_EQ(blank.value, 42);
  EXPECT_EQ(blank.prompts, 1);
  // A NUL byte ends the token; a token that begins with one counts as empty.
  EXPECT_EQ(ask(9, 1, std::string("7\0x", 3)).value, 7);
  const Asked empty = ask(9, 1, std::string("\0ab 8", 5));
  EXPECT_EQ(empty.value, 8);
  EXPECT_EQ(empty.prompts, 2);
  const std::string digits199(199, '1');
  EXPECT_EQ(ask(9, 1, std::string(198, '0') + " 4").prompts, 2);      // leading zeros: refused anyway
  EXPECT_EQ(ask(9, 1, "1" + std::string(198, '0') + " 4").value, 4);  // 199 digits: too large
  EXPECT_EQ(ask(9, 1, std::string(200, '7') + " 4").prompts, 2);
  const Asked huge = ask(1, 0, std::string(10'000'000, 'x') + " 1");
  EXPECT_EQ(huge.value, 1);
  EXPECT_EQ(huge.prompts, 2);
  EXPECT_EQ(ask(1, 0, std::string(250, '1') + " 0").value, 0);
}

TEST(Console, EndOfInputEndsTheQuestion) {
  for (int cas : {1, 3, 9}) {
    EXPECT_TRUE(ask(cas, 1, "").ended);
    EXPECT_TRUE(ask(cas, 1, "  \n\t ").ended);
    const Asked refusedThenEnd = ask(cas, 1, "x y z");
    EXPECT_TRUE(refusedThenEnd.ended);
    EXPECT_EQ(refusedThenEnd.prompts, 4);  // three refusals, then the end
  }
  // A token that ends at the end of input is still an answer.
  EXPECT_FALSE(ask(9, 1, "12").ended);
}

TEST(Console, OtherKindsDoNothingAndValtestReadsADigitOrASign) {
  std::istringstream in("5");
  std::ostringstream out;
  Console c(in, out);
  c.valeur0 = 77;
  c.valeur2 = 1;
  EXPECT_EQ(c.controle(4, "prompt"), 0);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(c.valeur0, 77);
  EXPECT_EQ(c.valeur2, 1);
  // An empty prompt writes nothing before the read.
  EXPECT_EQ(c.controle(9, ""), 0);
  EXPECT_EQ(c.valeur0, 5);
  EXPECT_EQ(out.str(), "");
  // One character's value as a digit or a sign.
  EXPECT_EQ(c.valtest('7'), 1);
  EXPECT_EQ(c.valtest2, 7);
  EXPECT_EQ(c.valtest('-'), 1);
  EXPECT_EQ(c.valtest2, -1);
  EXPECT_EQ(c.valtest('+'), 1);
  EXPECT_EQ(c.valtest2, 1);
  EXPECT_EQ(c.valtest(','), 0);
  EXPECT_EQ(c.valtest2, 0);
}

}  // namespace
