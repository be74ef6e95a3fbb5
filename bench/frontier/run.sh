#!/usr/bin/env bash
# The census of [1, 2^n] for each n given, twice: the planner's own split,
# then --memory=700M (other blocks); both histograms must be identical.
# Each run keeps a checkpoint, so a killed run resumes where it stopped.
# Usage: bench/frontier/run.sh [PROGRAM] N... (PROGRAM default build/sigma-census)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=build/sigma-census
if [ -x "${1:-}" ]; then
  program=$1
  shift
fi
for n in "$@"; do
  /usr/bin/time -f "n=$n first %e s %M KiB" -a -o "$here/times" \
    "$program" --format=tsv --checkpoint="$here/ck$n.a" 1 "2^$n" > "$here/sigma_census_2_$n.tsv"
  /usr/bin/time -f "n=$n second(--memory=700M) %e s %M KiB" -a -o "$here/times" \
    "$program" --format=tsv --memory=700M --checkpoint="$here/ck$n.b" 1 "2^$n" > "$here/second_$n.tsv"
  if cmp -s "$here/sigma_census_2_$n.tsv" "$here/second_$n.tsv"; then
    echo "n=$n identical" >> "$here/times"
    rm "$here/second_$n.tsv" "$here/ck$n.a" "$here/ck$n.b"
  else
    echo "n=$n DIFFERENT" >> "$here/times"
  fi
done
