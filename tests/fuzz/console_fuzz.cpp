// Fuzzes console entry: arbitrary bytes as standard input to the questions.
// Every accepted answer must be a token of the grammar, with its exact value,
// and the end of the input must always end the question.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "console/console.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The integer grammar, checked independently of the console's own parser:
// "0", or an optional '+', a digit 1-9, then digits, at most 2^63 - 1.
bool isIntegerToken(std::string_view token, std::int64_t& value) {
  if (token == "0") {
    value = 0;
    return true;
  }
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty() || token.front() < '1' || token.front() > '9') return false;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
  }
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the kind of question and the zero guard.
  const int kinds[] = {console::Console::kChoice01, console::Console::kChoice012, console::Console::kInteger};
  const int cas = kinds[data[0] % 3];
  const int xn = (data[0] >> 2) & 1;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::ostringstream out;
  console::Console console(in, out);
  std::size_t answers = 0;
  for (;;) {
    console.xn = xn;
    try {
      console.controle(cas, "?");
    } catch (const console::EndOfInput&) {
      break;
    }
    ++answers;
    require(answers <= size);  // each answer takes at least one byte of input
    if (cas == console::Console::kInteger) {
      std::int64_t value = -1;
      require(isIntegerToken(console.entree, value));
      require(value == console.valeur0);
      require(!(xn == 1 && value == 0));
    } else {
      const int highest = cas == console::Console::kChoice012 ? 2 : 1;
      require(console.valeur2 >= 0 && console.valeur2 <= highest);
      require(console.entree == std::string(1, static_cast<char>('0' + console.valeur2)));
    }
  }
  return 0;
}
