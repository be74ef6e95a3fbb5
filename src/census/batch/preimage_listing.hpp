// --preimages S: every m with sigma(m) = S, in increasing order, as text (one
// a line), tsv (a header "m", then one a line) or JSON ({"value": S,
// "count": n, "preimages": [...]} on one line).
//
// The walk over the preimages finds them in no order, and a value high up
// can have billions: more than memory holds. So the list is made in passes
// over the walk, each keeping the smallest of the m not yet written, at most
// as many as a quarter of the memory budget holds (a buffer of twice that,
// halved by a selection whenever it fills), then sorting and writing them.
// Most values take one pass.
#pragma once

#include <cstdint>
#include <ostream>

#include "arith/divisor_arithmetic.hpp"
#include "census/batch/command_line.hpp"

namespace census {

class PreimageListing {
 public:
  PreimageListing(arith::DivisorArithmetic& arithmetic, std::ostream& out, std::ostream& err);

  // Writes the preimages of S in `format`; returns the exit status (0, 3
  // when the output could not be written, 4 when the calculation failed).
  int run(common::Int64 S, Format format);

 private:
  // The next at most `room` preimages above `after`, sorted.
  std::vector<std::uint64_t> nextPass(common::Int64 S, std::uint64_t after, std::size_t room);
  void write(common::Int64 S, Format format, common::Count n);

  arith::DivisorArithmetic& arithmetic_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace census
