// Binds the standard streams, runs the program, returns its exit status.
#include <unistd.h>

#include <iostream>

#include "arith/divisor_arithmetic.hpp"
#include "census/census.hpp"
#include "console/console.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  console::Console console(std::cin, std::cout);
  arith::DivisorArithmetic arithmetic;
  census::Census census(console, arithmetic, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  return census.main();
}
