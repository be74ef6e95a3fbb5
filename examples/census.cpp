// The C++ API: the histogram of an interval as tab-separated values (the
// command line's --format=tsv), then how many m share the divisor sum of the
// richest value of a window, and the first of them.
// Usage: census_cpp L1 L2
#include <cstdlib>
#include <iostream>
#include <sigma_census/sigma_census.hpp>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " L1 L2\n";
    return 64;
  }
  try {
    const std::int64_t L1 = std::atoll(argv[1]), L2 = std::atoll(argv[2]);
    std::cout << "count\tvalues\n";
    for (const auto& [n, values] : sigma_census::histogram(L1, L2)) std::cout << n << '\t' << values << '\n';
    std::int64_t richest = L1, most = -1;
    sigma_census::forEachCount(L1, std::min(L2, L1 + 99999),
                               [&](std::int64_t first, std::span<const std::int64_t> counts) {
                                 for (std::size_t k = 0; k < counts.size(); ++k)
                                   if (counts[k] > most)
                                     most = counts[k], richest = first + static_cast<std::int64_t>(k);
                               });
    const std::vector<std::int64_t> preimages = sigma_census::preimages(richest, most);
    std::cout << "# " << richest << " has " << preimages.size() << " preimages, the least "
              << preimages.front() << " (sigma-census " << sigma_census::version() << ")\n";
  } catch (const sigma_census::Error& error) {
    std::cerr << "census_cpp: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
