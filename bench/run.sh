#!/usr/bin/env bash
# Measures the built program on whole runs: wall time and peak memory of one
# calculation (output to a file), then the Google Benchmark comparison of the
# engines. Usage: bench/run.sh [BUILD_DIR] [SECTION...]
# Sections: wide (intervals from 1), high (narrow intervals high up), single
# (single values with billions of preimages), listing, engines. Default: all.
set -euo pipefail
build=${1:-build-bench}
shift || true
sections=${*:-wide high single listing engines}
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSIGMA_BUILD_BENCH=ON -DSIGMA_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j2 > /dev/null
program=$PWD/$build/sigma-census
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure LO HI OPTION: one calculation; prints wall time, peak MiB and the
# report's first summary line (count, values).
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" sh -c "cd '$work' && printf '%s\n%s\n%s\n0\n' $2 $1 $3 | '$program' > out.txt" || true
  read -r seconds kb < <(tail -n 1 "$work/time")
  first=$(grep -a -m1 -o 'Pour : [0-9]* possibilites, il y a  [0-9]*' "$work/out.txt" | sed 's/possibilites, il y a  /-> /')
  printf '| [%s, %s] | %s | %s | %d | %s |\n' "$1" "$2" "$3" "$seconds" $((kb / 1024)) "$first"
}

header() { printf '\n| interval | listing | wall time (s) | peak memory (MiB) | first summary line |\n|---|---|---|---|---|\n'; }

for section in $sections; do
  case $section in
    wide)
      header
      for hi in 1000000 10000000 100000000 1000000000; do measure 1 $hi 0; done ;;
    high)
      header
      measure 1000000000000 1000000010000 0
      measure 9223372036854775000 9223372036854775807 0
      measure 897612484786612600 897612484786622600 0
      measure 897612484786612600 897612484786622600 1 ;;
    single)
      # 20!, 2 x 20!, 3 x 20!, and the three numbers with the most divisors
      # below 2^63 (161280, 153600 and 147456 divisors).
      header
      for s in 2432902008176640000 4865804016353280000 7298706024529920000 \
        9200527969062830400 8976124847866176000 8762407589583648000; do
        measure $s $s 0
        measure $s $s 1
      done ;;
    listing)
      header
      measure 1 10000000 0
      measure 1 10000000 1 ;;
    engines)
      "$build/bench/census_bench" ;;
  esac
done
