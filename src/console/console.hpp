// Prompted entry: puts a question, reads one token, validates it, asks again until valid.
#pragma once

#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/widths.hpp"
#include "console/token_reader.hpp"

namespace console {

// Thrown when the input ends (or fails) while a question waits for its answer.
class EndOfInput : public std::runtime_error {
 public:
  EndOfInput() : std::runtime_error("end of input") {}
};

class Console {
 public:
  static constexpr int kChoice01 = 1;   // answers 0 or 1, left in valeur2
  static constexpr int kChoice012 = 3;  // answers 0, 1 or 2, left in valeur2
  static constexpr int kInteger = 9;    // a non-negative integer, left in valeur0

  Console(std::istream& in, std::ostream& out);

  // Writes `chaine` and reads answers until one is valid for the kind `cas`.
  // Any other `cas` does nothing. Returns 0; throws EndOfInput when the input ends.
  common::Int32 controle(int cas, std::string_view chaine);

  // 1 for a digit or a sign, 0 otherwise; the character's value goes to valtest2.
  common::Int32 valtest(char caract1);

  // The zero guard, set by the caller: while it is 1 an integer answer of 0 is refused.
  common::Int32 xn = 0;
  common::Int64 valeur0 = 0;  // answer of the last integer question
  common::Int32 valeur2 = 0;  // answer of the last choice question
  common::Int64 valtest2 = 0;
  std::string entree;  // the last answer token (up to its first NUL byte)

 private:
  void readAnswer(std::string_view chaine);
  void choiceQuestion(int cas, std::string_view chaine);
  void integerQuestion(std::string_view chaine);
  bool checkInteger();

  std::ostream& out_;
  TokenReader reader_;
  bool tooLong_ = false;  // the last token could not fit in the answer buffer
};

}  // namespace console
