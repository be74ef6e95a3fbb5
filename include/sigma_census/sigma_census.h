/* sigma-census, the C API: for every S of an interval, how many positive
 * integers m have a divisor sum sigma(m) equal to S; the histogram of those
 * counts; and every m of one value. Exact for every bound up to 2^63 - 1.
 *
 * Every function returns a status, SIGMA_CENSUS_OK (0) on success; after a
 * failure, sigma_census_last_error() gives its message in the same thread.
 * Calls are independent and may run in several threads at once; the library
 * prints nothing and never exits. */
#ifndef SIGMA_CENSUS_H
#define SIGMA_CENSUS_H

#include <stddef.h>
#include <stdint.h>

#include "sigma_census/sigma_census_version.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum sigma_census_status {
  SIGMA_CENSUS_OK = 0,
  SIGMA_CENSUS_ERROR_BOUNDS = 1,    /* a bound or value outside [1, 2^63 - 1], or L1 > L2 */
  SIGMA_CENSUS_ERROR_ARGUMENT = 2,  /* an output too small, a limit exceeded, a null pointer */
  SIGMA_CENSUS_ERROR_MEMORY = 3,    /* the memory a calculation needs could not be had */
  SIGMA_CENSUS_ERROR_CANCELLED = 4, /* the progress callback asked to stop */
  SIGMA_CENSUS_ERROR_FAILED = 5     /* any other failure */
} sigma_census_status;

typedef struct sigma_census_options {
  unsigned threads; /* 0: one per core */
  uint64_t memory;  /* an upper bound on the memory budget in bytes; 0: as the machine allows */
  /* Told the fraction done (0 to 1) now and then, in the calling thread;
   * returning nonzero abandons the call with SIGMA_CENSUS_ERROR_CANCELLED. */
  int (*progress)(double done, void* data);
  void* progress_data;
} sigma_census_options;

/* Sets every option to its default. A null options pointer means the defaults. */
void sigma_census_options_init(sigma_census_options* options);

const char* sigma_census_version(void);
void sigma_census_version_numbers(int* major, int* minor, int* patch);
/* The message of the last failure in this thread ("" when none). */
const char* sigma_census_last_error(void);

/* The histogram of [L1, L2]: counts[k] values have exactly ns[k] preimages,
 * for the *size distinct counts met, in increasing order of count. With
 * capacity too small, SIGMA_CENSUS_ERROR_ARGUMENT and *size the room needed. */
sigma_census_status sigma_census_histogram(int64_t L1, int64_t L2, int64_t* ns, int64_t* counts,
                                           size_t capacity, size_t* size,
                                           const sigma_census_options* options);

/* The count of every value of [L1, L2]: out[k] for L1 + k; out must hold
 * size >= L2 - L1 + 1 numbers. */
sigma_census_status sigma_census_counts(int64_t L1, int64_t L2, int64_t* out, size_t size,
                                        const sigma_census_options* options);
/* The same for any width: visit(first, counts, n, data) receives the counts
 * of first .. first + n - 1, in increasing order of value; returning nonzero stops. */
typedef int (*sigma_census_count_visitor)(int64_t first, const int64_t* counts, size_t n, void* data);
sigma_census_status sigma_census_for_each_count(int64_t L1, int64_t L2, sigma_census_count_visitor visit,
                                                void* data, const sigma_census_options* options);

/* How many m have sigma(m) == S. */
sigma_census_status sigma_census_count(int64_t S, int64_t* count, const sigma_census_options* options);
/* The same as a plain number, for foreign-function interfaces (PARI/GP's
 * install(), ctypes): the count, or -1 on failure (see sigma_census_last_error). */
int64_t sigma_census_count_of(int64_t S);

/* Every m with sigma(m) == S in increasing order into out (capacity numbers);
 * *size is how many there are, also when they do not fit (then
 * SIGMA_CENSUS_ERROR_ARGUMENT and nothing written). */
sigma_census_status sigma_census_preimages(int64_t S, int64_t* out, size_t capacity, size_t* size,
                                           const sigma_census_options* options);
/* Every m with sigma(m) == S, in batches, in the order the search finds them;
 * returning nonzero stops (SIGMA_CENSUS_ERROR_CANCELLED). *total: how many. */
typedef int (*sigma_census_preimage_visitor)(const int64_t* preimages, size_t n, void* data);
sigma_census_status sigma_census_for_each_preimage(int64_t S, sigma_census_preimage_visitor visit, void* data,
                                                   int64_t* total, const sigma_census_options* options);

#ifdef __cplusplus
}
#endif

#endif
