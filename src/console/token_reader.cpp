#include "console/token_reader.hpp"

#include <streambuf>

namespace console {

namespace {

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

TokenReader::TokenReader(std::istream& in, std::size_t kept) : in_(in), kept_(kept) {}

Token TokenReader::next() {
  Token token;
  std::streambuf* buf = in_.rdbuf();
  if (buf == nullptr || !in_.good()) {
    token.ended = true;
    return token;
  }
  using Traits = std::streambuf::traits_type;
  int c = Traits::eof();
  try {
    c = buf->sgetc();
    while (c != Traits::eof() && isBlank(c)) c = buf->snextc();
    if (c == Traits::eof()) {
      in_.setstate(std::ios::eofbit);
      token.ended = true;
      return token;
    }
    bool sawNul = false;
    while (c != Traits::eof() && !isBlank(c)) {
      if (c == '\0') sawNul = true;
      if (!sawNul && token.text.size() < kept_) token.text.push_back(Traits::to_char_type(c));
      ++token.length;
      c = buf->snextc();
    }
    if (c == Traits::eof()) in_.setstate(std::ios::eofbit);
  } catch (...) {
    // A failing stream buffer ends the input like an end of file.
    in_.setstate(std::ios::badbit);
    token.ended = token.length == 0;
  }
  return token;
}

}  // namespace console
