// Reads one whitespace-delimited answer token from a stream, with bounded memory.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace console {

struct Token {
  bool ended = false;      // no token: the input is exhausted or failed
  std::string text;        // the token up to its first NUL byte, at most `kept` characters
  std::size_t length = 0;  // the token's full length in bytes, NUL bytes included
};

class TokenReader {
 public:
  // Keeps at most `kept` characters of a token; the rest is read and dropped,
  // so a token of any size costs no more memory than that.
  TokenReader(std::istream& in, std::size_t kept);

  // Skips blanks, tabs, line feeds, carriage returns, vertical tabs and form
  // feeds, then reads up to the next one of them or the end of input.
  Token next();

 private:
  std::istream& in_;
  std::size_t kept_;
};

}  // namespace console
