#!/usr/bin/env bash
# Measures the built program on the benchmark intervals: wall time and peak
# memory of a whole run (one calculation, no listing), then the Google
# Benchmark comparison of the engines. Usage: bench/run.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build-bench}
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSIGMA_BUILD_BENCH=ON -DSIGMA_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j2 > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '| interval | wall time (s) | peak memory (MiB) |\n|---|---|---|\n'
while read -r lo hi; do
  /usr/bin/time -f '%e %M' -o "$work/time" sh -c "cd '$work' && printf '%s\n%s\n0\n0\n' $hi $lo | '$PWD/$build/sigma-census' > /dev/null" || true
  read -r seconds kb < <(tail -n 1 "$work/time")
  printf '| [%s, %s] | %s | %d |\n' "$lo" "$hi" "$seconds" $((kb / 1024))
done << 'LIST'
1 10000000
1 100000000
1 1000000000
1000000000000 1000000010000
9223372036854775000 9223372036854775807
1 1000000
897612484786612600 897612484786622600
LIST
# The listing option on, output to a file, against the same run without it.
for option in 0 1; do
  /usr/bin/time -f '%e %M' -o "$work/time" sh -c "cd '$work' && printf '1000000\n1\n$option\n0\n' | '$PWD/$build/sigma-census' > out.txt" || true
  read -r seconds kb < <(tail -n 1 "$work/time")
  printf '| [1, 1000000], listing %s | %s | %d |\n' "$option" "$seconds" $((kb / 1024))
done
"$build/bench/census_bench"
