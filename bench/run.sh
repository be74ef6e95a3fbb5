#!/usr/bin/env bash
# Measures the built program on whole runs: wall time and peak memory of one
# calculation (output to a file), and the comparisons the table of
# bench/README.md gives. Usage: bench/run.sh [--against REV] [BUILD_DIR] [SECTION...]
# REV: the build to compare with (a commit, tag or branch), for the sections
# previous, inversion and window.
# Sections (default: all but huge and previous, which take long):
#   ratio     the program against the plain sieve (bench/plain_sieve.cpp) on [1, 2e8]
#   linear    [1, 10^9] and [1, 10^10], in the same run
#   huge      [1, 2^33] and [1, 2^36]
#   limited   [1, 10^9] under a control group limited to 2 GiB, against no limit
#   stages    where the time of [1, 10^9] goes, from a profile (needs perf)
#   high      narrow intervals high up;  single  single values with billions of preimages
#   listing   [1, 10^7] with the listing on and off
#   previous  reports and times of the build of REV against this one
#   inversion seconds per value of the inversion near 10^12, 10^15, 2^62 and 2^63, with the
#             build of REV in the same run (best of three alternating rounds)
#   window    wide windows in the middle of the range, with the build of REV in the same run;
#             and the map of where each method wins
#   frontier  four blocks' worth of 2^30 values just below 2^36 and 2^40, and one alone below each,
#             with the build of REV in the same run: seconds per 2^30 values, peak memory
#   pace      window blocks of 2^30 and 2^32 values just below 2^36 and just below 2^40, three
#             of each in one run (bench/block_pace.cpp): the first block pays the fresh
#             pages, the later ones' seconds are a block's inside a run
#   ranks     [1, 10^10] and [2^40 - 2^35 + 1, 2^40]: the plain program, mpirun -n 2 (the threads
#             the program chooses) and mpirun -n 3 --threads=1, with their ratios (needs Open MPI)
#   heights   in one invocation: the top sixteenths of [1, 2^40] and of [1, 2^44], the first
#             again with --memory=4G, and runs of 2^32 and 2^35 values just below 2^40: wall
#             time, peak memory, seconds per 2^30 values and their ratios; for each, the
#             progress line's time left against the time the run then still took (from the
#             first minute on, while a tenth of the run is left)
#   short     runs of 2^32 and 2^35 values just below 2^40 against the top sixteenth's pace per
#             value, the first also with the build of REV, in the memory MEMORY (default: the
#             program's own budget)
#   doublecheck [1, 2^36] with --double-check against without
#   checkpoint [1, 2^33] with --checkpoint against without (best of three alternating rounds),
#             and the time to resume from a complete checkpoint
#   flint     factoring and primality against FLINT's (needs libflint-dev)
#   mpi       [1, MPI_TOP] (default 10^10) on 1, 2 and 4 MPI ranks: wall time and each rank's CPU time
#             (needs Open MPI)
#   engines   the Google Benchmark comparisons (census_bench)
#   library   the Python module's histogram of [1, 10^9] against the command line's (best of three
#             alternating rounds), and preimages streamed through the API on one core for
#             3 * 18! (151190297 of them), then listed in order by --preimages
set -euo pipefail
against=
if [ "${1:-}" = --against ]; then
  against=$2
  shift 2
fi
build=${1:-build-bench}
shift || true
sections=${*:-ratio linear limited stages high single listing engines}
cd "$(dirname "$0")/.."
top=$PWD
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSIGMA_BUILD_BENCH=ON -DSIGMA_BUILD_TESTS=OFF -DSIGMA_PYTHON=ON > /dev/null
cmake --build "$build" -j2 > /dev/null
program=$PWD/$build/sigma-census
work=$(mktemp -d)
# KEEP=1 keeps the work directory and its outputs (its path on standard error).
trap 'if [ -n "${KEEP:-}" ]; then echo "bench/run.sh: outputs kept in $work" >&2; else rm -rf "$work"; fi' EXIT

# run PROGRAM LO HI OPTION: one calculation in $work; sets seconds, mib and zero (the count-0 line).
run() {
  /usr/bin/time -f '%e %M' -o "$work/time" sh -c "cd '$work' && printf '%s\n%s\n%s\n0\n' $3 $2 $4 | '$1' > out.txt" || true
  read -r seconds kb < <(tail -n 1 "$work/time")
  mib=$((kb / 1024))
  zero=$(grep -a -m1 -o 'Pour : 0 possibilites, il y a  [0-9]*' "$work/out.txt" | sed 's/.*  //' || true)
}
# measure LO HI OPTION: a row of the table.
measure() {
  run "$program" "$@"
  first=$(grep -a -m1 -o 'Pour : [0-9]* possibilites, il y a  [0-9]*' "$work/out.txt" | sed 's/possibilites, il y a  /-> /' || true)
  printf '| [%s, %s] | %s | %s | %d | %s |\n' "$1" "$2" "$3" "$seconds" "$mib" "$first"
}
header() { printf '\n| interval | listing | wall time (s) | peak memory (MiB) | first summary line |\n|---|---|---|---|---|\n'; }
# previousBuild: builds REV (--against) in $work/previous; sets old and commit.
previousBuild() {
  if [ -z "$against" ]; then
    echo "bench/run.sh: section $section compares with another build: give --against REV" >&2
    exit 64
  fi
  commit=$against
  old=$work/previous
  git worktree add -f --detach "$old" "$commit" > /dev/null 2>&1
  cmake -S "$old" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DSIGMA_BUILD_TESTS=OFF > /dev/null
  cmake --build "$old/build" -j2 > /dev/null
}
# timedRun NAME LO HI [OPTION...]: one census with --progress, each line of
# standard error stamped with the seconds since the start; sets seconds and mib.
timedRun() {
  local name=$1 lo=$2 hi=$3
  shift 3
  local start
  start=$(date +%s.%N)
  /usr/bin/time -f '%e %M' -o "$work/time" "$program" --format=tsv --progress "$@" "$lo" "$hi" > "$work/$name.tsv" \
    2> >(while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done > "$work/$name.progress")
  sleep 0.5
  read -r seconds kb < <(tail -n 1 "$work/time")
  mib=$((kb / 1024))
  # The time left shown against the time the run still took, from the first
  # minute on while a tenth of the run is left: the smallest and largest ratio.
  leftRatios=$(awk -v start="$start" -v total="$seconds" '
    / reste environ / { e = $1 - start; left = $(NF - 1); still = total - e
      if (e >= 60 && still >= total / 10) { r = left / still; if (n++ == 0 || r < lo) lo = r; if (n == 1 || r > hi) hi = r } }
    END { if (n) printf "%.2f to %.2f (%d lines)", lo, hi, n; else printf "no line past the first minute" }' "$work/$name.progress")
}
# best SECONDS...: the smallest.
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

for section in $sections; do
  case $section in
    library)
      cli=() py=()
      for round in 1 2 3; do
        /usr/bin/time -f '%e' -o "$work/time" "$program" --format=tsv 1 1000000000 > "$work/cli.tsv"
        cli+=("$(tail -n 1 "$work/time")")
        /usr/bin/time -f '%e' -o "$work/time" env PYTHONPATH="$build/python" /usr/bin/python3 -c \
          'import sigma_census; h = sigma_census.histogram(1, 10**9); print("count\tvalues"); [print(f"{n}\t{k}") for n, k in sorted(h.items())]' \
          > "$work/py.tsv"
        py+=("$(tail -n 1 "$work/time")")
      done
      c=$(best "${cli[@]}") p=$(best "${py[@]}")
      printf '\n[1, 10^9]: command line %s s (runs: %s), Python %s s (runs: %s), ratio %s, same histogram: %s\n' \
        "$c" "${cli[*]}" "$p" "${py[*]}" "$(awk -v p="$p" -v c="$c" 'BEGIN{printf "%.3f", p/c}')" \
        "$(cmp -s "$work/cli.tsv" "$work/py.tsv" && echo yes || echo NO)"
      "$build/bench/preimage_rate" 19207121117184000
      /usr/bin/time -f '%e s, %M KiB' -o "$work/time" "$program" --preimages 19207121117184000 > "$work/pre.txt"
      printf -- '--preimages 3 * 18!: %s lines in %s\n' "$(wc -l < "$work/pre.txt")" "$(tail -n 1 "$work/time")" ;;
    ratio)
      # Three rounds, alternating; the best of each, and their ratio.
      plain=() ours=()
      for round in 1 2 3; do
        /usr/bin/time -f '%e' -o "$work/time" "$build/bench/plain_sieve" 200000000 > "$work/plain.txt"
        plain+=("$(tail -n 1 "$work/time")")
        run "$program" 1 200000000 0
        ours+=("$seconds")
      done
      p=$(best "${plain[@]}") o=$(best "${ours[@]}")
      printf '\n[1, 2e8]: plain sieve %s s (runs: %s), program %s s (runs: %s), ratio %s\n' "$p" "${plain[*]}" "$o" \
        "${ours[*]}" "$(awk -v o="$o" -v p="$p" 'BEGIN{printf "%.3f", o/p}')"
      printf 'count 0: plain sieve %s, program %s\n' "$(awk '$1==0{print $2}' "$work/plain.txt")" "$zero" ;;
    linear)
      run "$program" 1 1000000000 0; t9=$seconds; m9=$mib; z9=$zero
      run "$program" 1 10000000000 0; t10=$seconds; m10=$mib; z10=$zero
      printf '\n[1, 10^9]: %s s, %d MiB, count 0: %s\n[1, 10^10]: %s s, %d MiB, count 0: %s\nratio: %s\n' \
        "$t9" "$m9" "$z9" "$t10" "$m10" "$z10" "$(awk -v a="$t10" -v b="$t9" 'BEGIN{printf "%.2f", a/b}')" ;;
    huge)
      header
      measure 1 8589934592 0
      measure 1 68719476736 0 ;;
    limited)
      # A memory control group made by hand (cgroup v2, or v1's memory controller).
      run "$program" 1 1000000000 0; cp "$work/out.txt" "$work/free.txt"; free=$seconds; freemib=$mib
      if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
        group=/sys/fs/cgroup/sigma_bench; mkdir -p $group; echo 2G > $group/memory.max
      else
        parent=/sys/fs/cgroup/memory$(awk -F: '$2 ~ /(^|,)memory(,|$)/ {print $3}' /proc/self/cgroup)
        group=$parent/sigma_bench; mkdir -p "$group"; echo 2G > "$group/memory.limit_in_bytes"
      fi
      /usr/bin/time -f '%e %M' -o "$work/time" sh -c "echo \$\$ > '$group/cgroup.procs' && cd '$work' && printf '1000000000\n1\n0\n0\n' | '$program' > limited.txt" || true
      read -r seconds kb < <(tail -n 1 "$work/time")
      rmdir "$group" 2> /dev/null || true
      same=$(cmp -s "$work/free.txt" "$work/limited.txt" && echo identical || echo DIFFERENT)
      printf '\n[1, 10^9] without a limit: %s s, %d MiB; in a 2 GiB control group: %s s, %d MiB; reports %s\n' \
        "$free" "$freemib" "$seconds" $((kb / 1024)) "$same" ;;
    stages)
      (cd "$work" && printf '1000000000\n1\n0\n0\n' | perf record -o perf.data "$program" > /dev/null 2>&1) || true
      run "$program" 1 1000000000 0
      printf '\nwhere [1, 10^9] goes (%s s wall on 2 threads; ns per candidate of one core):\n' "$seconds"
      perf report -i "$work/perf.data" --no-children --sort symbol --stdio 2> /dev/null | grep -E '^ +[0-9]' |
        awk -v s="$seconds" -v candidates=1e9 '{share=$1; sub("%","",share); $1="";
          printf "%6.2f%%  %5.2f ns  %s\n", share, share / 100 * s * 2 * 1e9 / candidates, substr($0, 1, 90)}' |
        head -n 8 || true ;;
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
      run "$program" 1 10000000 0; off=$seconds
      run "$program" 1 10000000 1; on=$seconds
      bytes=$(( $(stat -c %s "$work/NN.txt") * 2 + $(stat -c %s "$work/out.txt") ))
      printf '\n[1, 10^7]: listing off %s s, on %s s; %d MiB written, read back and listed: %s MiB/s\n' "$off" "$on" \
        $((bytes >> 20)) "$(awk -v b="$bytes" -v on="$on" -v off="$off" 'BEGIN{printf "%.0f", b/1048576/(on-off)}')" ;;
    previous)
      previousBuild
      printf '\n| interval | previous build (%s) | this build | reports |\n|---|---|---|---|\n' "$commit"
      for case in "1 100000000 0" "10000000000 10000100000 1" "1000000000000 1000000010000 1" \
        "9223372036854775000 9223372036854775807 1" "4000000 4100000 1"; do
        set -- $case
        run "$old/build/sigma-census" "$1" "$2" "$3"; cp "$work/out.txt" "$work/old.txt"; before=$seconds
        run "$program" "$1" "$2" "$3"
        printf '| [%s, %s], listing %s | %s s | %s s | %s |\n' "$1" "$2" "$3" "$before" "$seconds" \
          "$(cmp -s "$work/old.txt" "$work/out.txt" && echo identical || echo DIFFERENT)"
      done
      git worktree remove --force "$old" ;;
    inversion)
      previousBuild
      printf '\n| values | previous build (%s) | this build | per value, before / after | ratio | reports |\n|---|---|---|---|---|---|\n' "$commit"
      for case in "1000000000000 1000000999999" "1000000000000000 1000000000999999" \
        "4611686018427387904 4611686018427587903" "9223372036854575808 9223372036854775807"; do
        set -- $case
        # Three rounds, alternating; the best of each.
        befores=() afters=()
        for round in 1 2 3; do
          run "$old/build/sigma-census" "$1" "$2" 0; cp "$work/out.txt" "$work/old.txt"; befores+=("$seconds")
          run "$program" "$1" "$2" 0; afters+=("$seconds")
        done
        before=$(best "${befores[@]}") seconds=$(best "${afters[@]}")
        width=$(($2 - $1 + 1))
        printf '| [%s, %s] | %s s | %s s | %s / %s us | %s | %s |\n' "$1" "$2" "$before" "$seconds" \
          "$(awk -v t="$before" -v w="$width" 'BEGIN{printf "%.2f", t/w*1e6}')" \
          "$(awk -v t="$seconds" -v w="$width" 'BEGIN{printf "%.2f", t/w*1e6}')" \
          "$(awk -v a="$before" -v b="$seconds" 'BEGIN{printf "%.2f", a/b}')" \
          "$(cmp -s "$work/old.txt" "$work/out.txt" && echo identical || echo DIFFERENT)"
      done
      run "$program" 1000000000000 1000010000000 0
      printf '\n[10^12, 10^12 + 10^7]: %s s, %d MiB\n' "$seconds" "$mib"
      git worktree remove --force "$old" ;;
    window)
      previousBuild
      printf '\n| window | previous build (%s) | this build | ratio | reports |\n|---|---|---|---|---|\n' "$commit"
      for case in "100000000000 100099999999" "10000000000 10999999999"; do
        set -- $case
        run "$old/build/sigma-census" "$1" "$2" 0; cp "$work/out.txt" "$work/old.txt"; before=$seconds
        run "$program" "$1" "$2" 0
        printf '| [%s, %s] | %s s | %s s | %s | %s |\n' "$1" "$2" "$before" "$seconds" \
          "$(awk -v a="$before" -v b="$seconds" 'BEGIN{printf "%.1f", a/b}')" \
          "$(cmp -s "$work/old.txt" "$work/out.txt" && echo identical || echo DIFFERENT)"
      done
      git worktree remove --force "$old"
      header
      measure 1000000000000 1000999999999 0
      measure 1000000000000 1000009999999 1
      printf '\n'
      "$build/bench/method_map" ;;
    pace)
      printf '\n| width | block | wall | CPU | wall per 2^30 values | CPU per 2^30 values |\n|---|---|---|---|---|---|\n'
      # Near 2^36 and near 2^40 in one invocation; blocks of 2^33 near 2^40
      # would take over 20 GiB with their kept bits and gathered prefixes.
      for top in 36 40; do
        for bits in 30 32; do "$build/bench/block_pace" $((1 << top)) "$bits" 3; done
      done ;;
    frontier)
      previousBuild
      printf '\n| values | previous build (%s) | this build | per 2^30 values, before / after | peak MiB, before / after | reports |\n|---|---|---|---|---|---|\n' "$commit"
      for case in "36 32" "40 32" "36 30" "40 30"; do
        set -- $case
        lo=$(((1 << $1) - (1 << $2) + 1)) hi=$((1 << $1))
        /usr/bin/time -f '%e %M' -o "$work/time" "$old/build/sigma-census" --format=tsv "$lo" "$hi" > "$work/old.tsv"
        read -r before beforekb < <(tail -n 1 "$work/time")
        /usr/bin/time -f '%e %M' -o "$work/time" "$program" --format=tsv "$lo" "$hi" > "$work/new.tsv"
        read -r after afterkb < <(tail -n 1 "$work/time")
        printf '| [2^%s - 2^%s + 1, 2^%s] | %s s | %s s | %s / %s s | %d / %d | %s |\n' "$1" "$2" "$1" "$before" "$after" \
          "$(awk -v t="$before" -v b="$2" 'BEGIN{printf "%.2f", t / 2^(b-30)}')" \
          "$(awk -v t="$after" -v b="$2" 'BEGIN{printf "%.2f", t / 2^(b-30)}')" \
          $((beforekb / 1024)) $((afterkb / 1024)) \
          "$(cmp -s "$work/old.tsv" "$work/new.tsv" && echo identical || echo DIFFERENT)"
      done
      git worktree remove --force "$old" ;;
    short)
      # Runs of 2^32 and 2^35 values just below 2^40 (the first also with the
      # build of REV), then the top sixteenth, in MEMORY (default: the program's).
      previousBuild
      memory=${MEMORY:+--memory=$MEMORY}
      printf '\n| run | build | wall | peak MiB | per 2^30 values | against the top sixteenth |\n|---|---|---|---|---|---|\n'
      shortRun() {  # PROGRAM BITS LABEL: sets seconds, mib and per
        /usr/bin/time -f '%e %M' -o "$work/time" "$1" $memory --format=tsv $(((1 << 40) - (1 << $2) + 1)) $((1 << 40)) \
          > "$work/short$2.$3.tsv"
        read -r seconds kb < <(tail -n 1 "$work/time")
        mib=$((kb / 1024))
        per=$(awk -v t="$seconds" -v b="$2" 'BEGIN{printf "%.3f", t / 2^(b-30)}')
      }
      rows=()
      for case in "$old/build/sigma-census 32 $commit" "$program 32 this" "$program 35 this" "$program 36 this"; do
        set -- $case
        shortRun "$1" "$2" "$3"
        rows+=("$2 $3 $seconds $mib $per")
      done
      for r in "${rows[@]}"; do
        set -- $r
        printf '| 2^%s values | %s | %s s | %d | %s s | %s |\n' "$1" "$2" "$3" "$4" "$5" \
          "$(awk -v a="$5" -v b="$per" 'BEGIN{printf "%.3f", a / b}')"
      done
      cmp -s "$work/short32.$commit.tsv" "$work/short32.this.tsv" && echo "reports of both builds: identical" ||
        echo "reports of both builds: DIFFERENT"
      git worktree remove --force "$old" ;;
    flint)
      "$build/bench/flint_bench" ;;
    mpi)
      cmake -S . -B "$build-mpi" -DCMAKE_BUILD_TYPE=Release -DSIGMA_MPI=ON -DSIGMA_BUILD_TESTS=OFF > /dev/null
      cmake --build "$build-mpi" -j2 > /dev/null
      export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
      export OMPI_MCA_btl_vader_single_copy_mechanism=none OMPI_MCA_rmaps_base_oversubscribe=1
      export OMPI_MCA_hwloc_base_binding_policy=none  # each rank's threads free to use every core
      # The program ends with status 1 after the answer 0; mpirun would then kill the ranks
      # still ending, and their CPU times with them.
      export OMPI_MCA_orte_abort_on_non_zero_status=0
      printf '\n| ranks | wall time (s) | CPU time of each rank (s, user + system, in the order they ended) | count 0 |\n|---|---|---|---|\n'
      for ranks in 1 2 4; do
        /usr/bin/time -f '%e' -o "$work/time" sh -c "cd '$work' && printf '${MPI_TOP:-10000000000}\n1\n0\n0\n' |
          mpirun -n $ranks /usr/bin/time -f 'rank-cpu %U %S' '$top/$build-mpi/sigma-census' > out.txt 2> err.txt" || true
        cpu=$(grep '^rank-cpu' "$work/err.txt" | awk '{printf "%.2f ", $2 + $3}')
        zero=$(grep -a -m1 -o 'Pour : 0 possibilites, il y a  [0-9]*' "$work/out.txt" | sed 's/.*  //' || true)
        printf '| %d | %s | %s| %s |\n' "$ranks" "$(tail -n 1 "$work/time")" "$cpu" "$zero"
      done ;;
    ranks)
      # Every core counting: the plain program against mpirun -n 2 (mpirun's default
      # binding, the threads the program chooses) and mpirun -n 3 --threads=1.
      cmake -S . -B "$build-mpi" -DCMAKE_BUILD_TYPE=Release -DSIGMA_MPI=ON -DSIGMA_BUILD_TESTS=OFF > /dev/null
      cmake --build "$build-mpi" -j2 > /dev/null
      export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
      export OMPI_MCA_btl_vader_single_copy_mechanism=none OMPI_MCA_rmaps_base_oversubscribe=1
      printf '\n| interval | plain | mpirun -n 2 | ratio | mpirun -n 3 --threads=1 | ratio | outputs |\n|---|---|---|---|---|---|---|\n'
      for interval in "1 1e10" "$(((1 << 40) - (1 << 35) + 1)) 1099511627776"; do
        set -- $interval
        /usr/bin/time -f '%e' -o "$work/time" "$program" --format=tsv "$1" "$2" > "$work/plain.tsv"
        plain=$(tail -n 1 "$work/time")
        sleep 1
        /usr/bin/time -f '%e' -o "$work/time" mpirun -n 2 "$top/$build-mpi/sigma-census" --format=tsv "$1" "$2" \
          > "$work/two.tsv" 2> /dev/null
        two=$(tail -n 1 "$work/time")
        sleep 1
        /usr/bin/time -f '%e' -o "$work/time" mpirun -n 3 "$top/$build-mpi/sigma-census" --threads=1 --format=tsv \
          "$1" "$2" > "$work/three.tsv" 2> /dev/null
        three=$(tail -n 1 "$work/time")
        same=$(cmp -s "$work/plain.tsv" "$work/two.tsv" && cmp -s "$work/plain.tsv" "$work/three.tsv" &&
          echo identical || echo DIFFERENT)
        printf '| [%s, %s] | %s s | %s s | %s | %s s | %s | %s |\n' "$1" "$2" "$plain" "$two" \
          "$(awk -v a="$two" -v b="$plain" 'BEGIN{printf "%.3f", a / b}')" "$three" \
          "$(awk -v a="$three" -v b="$plain" 'BEGIN{printf "%.3f", a / b}')" "$same"
      done ;;
    heights)
      printf '\n| run | wall | peak MiB | per 2^30 values | ratio | time left shown / still taken |\n|---|---|---|---|---|---|\n'
      sixteenth=$((1 << 36))
      row() {  # NAME LABEL VALUES [BASE_PER_2^30]
        local per
        per=$(awk -v t="$seconds" -v v="$3" 'BEGIN{printf "%.2f", t * 2^30 / v}')
        printf '| %s | %s s | %d | %s s | %s | %s |\n' "$2" "$seconds" "$mib" "$per" \
          "$([ -n "${4:-}" ] && awk -v a="$per" -v b="$4" 'BEGIN{printf "%.3f", a / b}' || echo 1)" "$leftRatios"
        lastPer=$per
      }
      timedRun top40 $(((1 << 40) - sixteenth + 1)) $((1 << 40))
      row top40 "[2^40 - 2^36 + 1, 2^40]" "$sixteenth"
      base=$lastPer
      timedRun top44 $(((1 << 44) - sixteenth + 1)) $((1 << 44))
      row top44 "[2^44 - 2^36 + 1, 2^44]" "$sixteenth" "$base"
      timedRun top40small $(((1 << 40) - sixteenth + 1)) $((1 << 40)) --memory=4G
      row top40small "[2^40 - 2^36 + 1, 2^40], --memory=4G" "$sixteenth" "$base"
      cmp -s "$work/top40.tsv" "$work/top40small.tsv" && echo "reports with --memory=4G: identical" || echo "reports with --memory=4G: DIFFERENT"
      for bits in 32 35; do
        timedRun short$bits $(((1 << 40) - (1 << bits) + 1)) $((1 << 40))
        row short$bits "[2^40 - 2^$bits + 1, 2^40]" $((1 << bits)) "$base"
      done ;;
    doublecheck)
      # --double-check on [1, 2^36] against the same census without it.
      /usr/bin/time -f '%e %M' -o "$work/time" "$program" --format=tsv 1 2^36 > "$work/plain.tsv"
      read -r plain plainkb < <(tail -n 1 "$work/time")
      /usr/bin/time -f '%e %M' -o "$work/time" "$program" --format=tsv --double-check 1 2^36 > "$work/checked.tsv"
      read -r checked checkedkb < <(tail -n 1 "$work/time")
      printf '\n[1, 2^36]: %s s (%d MiB) without, %s s (%d MiB) with --double-check: %s; reports %s\n' "$plain" \
        $((plainkb / 1024)) "$checked" $((checkedkb / 1024)) \
        "$(awk -v a="$checked" -v b="$plain" 'BEGIN{printf "+%.1f %%", 100 * (a / b - 1)}')" \
        "$(cmp -s "$work/plain.tsv" "$work/checked.tsv" && echo identical || echo DIFFERENT)" ;;
    checkpoint)
      # Alternating rounds of the same census with and without a checkpoint file.
      plain=() kept=()
      for round in 1 2 3; do
        /usr/bin/time -f '%e' -o "$work/time" "$program" --format=tsv 1 2^33 > "$work/plain.tsv"
        plain+=("$(tail -n 1 "$work/time")")
        rm -f "$work/ck"
        /usr/bin/time -f '%e' -o "$work/time" "$program" --format=tsv --checkpoint="$work/ck" 1 2^33 > "$work/kept.tsv"
        kept+=("$(tail -n 1 "$work/time")")
      done
      /usr/bin/time -f '%e' -o "$work/time" "$program" --format=tsv --checkpoint="$work/ck" 1 2^33 > "$work/resumed.tsv"
      p=$(best "${plain[@]}") k=$(best "${kept[@]}")
      printf '
[1, 2^33]: without %s s (runs: %s), with --checkpoint %s s (runs: %s): %s; resumed from the complete file: %s s; outputs %s
' \
        "$p" "${plain[*]}" "$k" "${kept[*]}" "$(awk -v k="$k" -v p="$p" 'BEGIN{printf "%+.1f %%", (k/p-1)*100}')" \
        "$(tail -n 1 "$work/time")" \
        "$(cmp -s "$work/plain.tsv" "$work/kept.tsv" && cmp -s "$work/plain.tsv" "$work/resumed.tsv" && echo identical || echo DIFFERENT)" ;;
    engines)
      "$build/bench/census_bench" ;;
  esac
done
