#!/usr/bin/env bash
# Builds and runs every test: the unit tests and end-to-end transcripts, the
# installed library used by C, C++, Python and PARI/GP programs, the MPI
# build against the plain one under mpirun, the double check made to fail
# (plain and MPI Debug builds), the example Slurm job requeued by a real
# Slurm, the same tests in a Debug
# build (assertions on) and under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# bounded fuzzing runs of console entry and of the
# pairs file's read-back, and the format and static checks.
# FUZZ_SECONDS sets each fuzzing run's time (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --checks
sources=$(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'bench/*.cpp' 'include/*.h' 'include/*.hpp' \
  'python/*.cpp' 'examples/*.c' 'examples/*.cpp' 2> /dev/null || find src tests bench include python examples -name '*.[ch]pp' -o -name '*.[ch]')

echo "== build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure
bash tests/limits_end_to_end.sh build/sigma-census
bash tests/batch_end_to_end.sh build/sigma-census

echo "== the installed library: shared, with the Python module, used as other programs use it"
cmake -S . -B build-shared -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DSIGMA_PYTHON=ON -DSIGMA_BUILD_TESTS=OFF
cmake --build build-shared -j2
bash tests/install_end_to_end.sh build-shared

echo "== format"
clang-format --dry-run --Werror $sources

echo "== static checks"
clang-tidy -p build --quiet $(echo "$sources" | grep '^src/.*\.cpp$' | grep -v '^src/arith/mpi/')

echo "== MPI build, against the plain one under mpirun with 1 to 4 ranks"
cmake -S . -B build-mpi -DCMAKE_BUILD_TYPE=Release -DSIGMA_MPI=ON -DSIGMA_BUILD_TESTS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build-mpi -j2
clang-tidy -p build-mpi --quiet src/arith/mpi/*.cpp src/main.cpp
bash tests/mpi_end_to_end.sh build/sigma-census build-mpi/sigma-census

echo "== debug build (assertions on)"
cmake -S . -B build-debug -DCMAKE_BUILD_TYPE=Debug
cmake --build build-debug -j2
ctest --test-dir build-debug --output-on-failure

echo "== the double check made to fail, plain and under mpirun (Debug builds: the test hook)"
cmake -S . -B build-mpi-debug -DCMAKE_BUILD_TYPE=Debug -DSIGMA_MPI=ON -DSIGMA_BUILD_TESTS=OFF
cmake --build build-mpi-debug -j2
bash tests/double_check_end_to_end.sh build-debug/sigma-census build/sigma-census build-mpi-debug/sigma-census

echo "== a batch queue: the example Slurm job, cut by its time limit, requeued and resumed"
bash tests/slurm_end_to_end.sh build/sigma-census

echo "== sanitizers"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGMA_SANITIZE=ON
cmake --build build-sanitize -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-sanitize --output-on-failure

echo "== thread sanitizer: the tests where threads share a block's counts or a span's walk"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build build-tsan --target unit_tests -j2
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/unit_tests --gtest_filter='Filing*:BlockCounts*:Parallel*:WindowSums.BlocksReadOffASpan*:SpanPrefixes.EveryPrefix*:WindowSums.BlocksReadingTheKept*:LowPrimes*'

echo "== fuzzing"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGMA_FUZZ=ON -DSIGMA_BUILD_TESTS=OFF
cmake --build build-fuzz --target console_fuzz pairs_fuzz checkpoint_fuzz -j2
top=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/console" "$work/pairs" "$work/checkpoint"
cp tests/fuzz/console_corpus/* "$work/console"/
cp tests/fuzz/pairs_corpus/* "$work/pairs"/
cp tests/fuzz/checkpoint_corpus/* "$work/checkpoint"/
# A real pairs file among the seeds: the one the program writes for [1, 10000].
# (The program ends with status 1 after the answer 0 to a new calculation.)
(cd "$work" && { printf '10000\n1\n1\n0\n' | "$top/build/sigma-census" > /dev/null || [ $? = 1 ]; } && mv NN.txt pairs/real_scan)
build-fuzz/console_fuzz -max_total_time="${FUZZ_SECONDS:-60}" -max_len=4096 -print_final_stats=1 "$work/console" 2>&1 | tail -n 3
(cd "$work" && "$top/build-fuzz/pairs_fuzz" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=200000 -print_final_stats=1 pairs 2>&1 | tail -n 3)
build-fuzz/checkpoint_fuzz -max_total_time="${FUZZ_SECONDS:-60}" -max_len=8192 -print_final_stats=1 "$work/checkpoint" 2>&1 | tail -n 3
echo "all checks passed"
