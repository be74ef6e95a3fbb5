#include "console/console.hpp"

#include <limits>

namespace console {

using common::Int32;
using common::Int64;

Console::Console(std::istream& in, std::ostream& out) : out_(out), reader_(in, common::kTokenCapacity - 1) {}

Int32 Console::controle(int cas, std::string_view chaine) {
  if (cas == kChoice01 || cas == kChoice012) {
    choiceQuestion(cas, chaine);
  } else if (cas == kInteger) {
    integerQuestion(chaine);
  }
  return 0;
}

Int32 Console::valtest(char caract1) {
  valtest2 = 0;
  if (caract1 >= '0' && caract1 <= '9') {
    valtest2 = caract1 - '0';
    return 1;
  }
  if (caract1 == '+') {
    valtest2 = 1;
    return 1;
  }
  if (caract1 == '-') {
    valtest2 = -1;
    return 1;
  }
  return 0;
}

// Writes the prompt and reads tokens until one is not empty (a token that
// begins with a NUL byte counts as empty and puts the prompt out again).
void Console::readAnswer(std::string_view chaine) {
  for (;;) {
    out_ << chaine;
    out_.flush();
    Token token = reader_.next();
    if (token.ended) throw EndOfInput();
    entree = std::move(token.text);
    tooLong_ = token.length >= static_cast<std::size_t>(common::kTokenCapacity);
    if (!entree.empty() || tooLong_) return;
  }
}

void Console::choiceQuestion(int cas, std::string_view chaine) {
  for (;;) {
    readAnswer(chaine);
    if (tooLong_ || entree.size() != 1) continue;
    const char c = entree[0];
    if (c == '0' || c == '1' || (c == '2' && cas == kChoice012)) {
      valeur2 = c - '0';
      return;
    }
  }
}

void Console::integerQuestion(std::string_view chaine) {
  for (;;) {
    readAnswer(chaine);
    const bool accepted = checkInteger();
    if (accepted && !(xn == 1 && valeur0 == 0)) return;
  }
}

// The grammar: the single digit 0, or a digit 1-9 followed by digits, with or
// without one + in front; the value must fit a signed 64-bit integer.
bool Console::checkInteger() {
  if (tooLong_) return false;
  enum class State { Start, Plus, Zero, Digits };
  State state = State::Start;
  const std::size_t l1 = entree.size();
  Int64 value = 0;
  for (std::size_t a = 0; a < l1; ++a) {
    const char c = entree[a];
    if (valtest(c) == 0) return false;
    const bool digit = c >= '0' && c <= '9';
    switch (state) {
      case State::Start:
        if (c == '0' && l1 == 1) {
          state = State::Zero;
        } else if (digit && c != '0') {
          value = valtest2;
          state = State::Digits;
        } else if (c == '+' && l1 > 1) {
          state = State::Plus;
        } else {
          return false;
        }
        break;
      case State::Plus:
        if (!digit || c == '0') return false;
        value = valtest2;
        state = State::Digits;
        break;
      case State::Digits:
        if (!digit) return false;
        // Refuse rather than wrap past the largest signed 64-bit value.
        if (value > (std::numeric_limits<Int64>::max() - valtest2) / 10) return false;
        value = value * 10 + valtest2;
        break;
      case State::Zero:
        return false;
    }
  }
  if (state != State::Zero && state != State::Digits) return false;
  valeur0 = value;
  return true;
}

}  // namespace console
