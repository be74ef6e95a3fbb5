// The yardstick: a plain single-threaded segmented sieve of the divisor sum,
// written for clarity, not speed. For every m of a segment it adds up the
// divisor pairs (d, m / d) with d <= sqrt(m), then counts the sums that fall
// in [1, X]; it prints how many values have each count, to check it agrees
// with the program. Usage: plain_sieve X
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::uint64_t x = std::strtoull(argv[1], nullptr, 10);
  std::vector<std::uint32_t> count(x + 1, 0);  // count[v]: the m found so far with sigma(m) = v
  constexpr std::uint64_t kSegment = 1 << 16;
  std::vector<std::uint64_t> sigma(kSegment);
  // sigma(m) > m for m > 1, so the candidates stop below x; m = 1 gives 1.
  for (std::uint64_t lo = 1; lo <= x; lo += kSegment) {
    const std::uint64_t hi = lo + kSegment - 1 < x ? lo + kSegment - 1 : x;  // the segment [lo, hi]
    for (std::uint64_t m = lo; m <= hi; ++m) sigma[m - lo] = 0;
    for (std::uint64_t d = 1; d * d <= hi; ++d) {
      // The multiples m = d * q of d in the segment with q >= d.
      std::uint64_t q = (lo + d - 1) / d;
      if (q < d) q = d;
      for (std::uint64_t m = d * q; m <= hi; m += d, ++q) sigma[m - lo] += q == d ? d : d + q;
    }
    for (std::uint64_t m = lo; m <= hi; ++m) {
      if (sigma[m - lo] <= x) ++count[sigma[m - lo]];
    }
  }
  std::map<std::uint32_t, std::uint64_t> histogram;
  for (std::uint64_t v = 1; v <= x; ++v) ++histogram[count[v]];
  for (const auto& [n, values] : histogram)
    std::printf("%u %llu\n", n, static_cast<unsigned long long>(values));
  return 0;
}
