/* The C API: the histogram of an interval as tab-separated values (the
 * command line's --format=tsv), then the preimages of one value.
 * Usage: census_c L1 L2 S */
#include <inttypes.h>
#include <sigma_census/sigma_census.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s L1 L2 S\n", argv[0]);
    return 64;
  }
  const int64_t L1 = strtoll(argv[1], NULL, 10), L2 = strtoll(argv[2], NULL, 10),
                S = strtoll(argv[3], NULL, 10);
  int64_t ns[4096], values[4096];
  size_t size = 0;
  if (sigma_census_histogram(L1, L2, ns, values, 4096, &size, NULL) != SIGMA_CENSUS_OK) {
    fprintf(stderr, "census_c: %s\n", sigma_census_last_error());
    return 1;
  }
  printf("count\tvalues\n");
  for (size_t k = 0; k < size; ++k) printf("%" PRId64 "\t%" PRId64 "\n", ns[k], values[k]);

  int64_t preimages[1000];
  if (sigma_census_preimages(S, preimages, 1000, &size, NULL) != SIGMA_CENSUS_OK) {
    fprintf(stderr, "census_c: %s\n", sigma_census_last_error());
    return 1;
  }
  printf("sigma(m) = %" PRId64 " for %zu m:", S, size);
  for (size_t k = 0; k < size; ++k) printf(" %" PRId64, preimages[k]);
  printf("\n");
  return 0;
}
