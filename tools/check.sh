#!/usr/bin/env bash
# Builds and runs every test: the unit tests and end-to-end transcripts, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, a bounded
# fuzzing run of console entry, and the format and static checks.
# FUZZ_SECONDS sets the fuzzing time (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --checks
sources=$(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'bench/*.cpp' 2> /dev/null || find src tests bench -name '*.[ch]pp')

echo "== build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure

echo "== format"
clang-format --dry-run --Werror $sources

echo "== static checks"
clang-tidy -p build --quiet $(echo "$sources" | grep '^src/.*\.cpp$')

echo "== sanitizers"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGMA_SANITIZE=ON
cmake --build build-sanitize -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-sanitize --output-on-failure

echo "== fuzzing"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGMA_FUZZ=ON -DSIGMA_BUILD_TESTS=OFF
cmake --build build-fuzz --target console_fuzz -j2
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/* "$corpus"/
build-fuzz/console_fuzz -max_total_time="${FUZZ_SECONDS:-60}" -max_len=4096 -print_final_stats=1 "$corpus" 2>&1 | tail -n 3
echo "all checks passed"
