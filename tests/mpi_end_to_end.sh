#!/usr/bin/env bash
# The MPI build under mpirun with 1 to 4 ranks against the plain build: the
# same standard output, exit status and NN.txt for the same dialogues.
# Usage: mpi_end_to_end.sh PLAIN_PROGRAM MPI_PROGRAM
set -u
plain=$(realpath "$1")
mpi=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/expect.sh"
# Open MPI as root, and without the cross-memory attach that containers forbid.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
export OMPI_MCA_btl_vader_single_copy_mechanism=none OMPI_MCA_rmaps_base_oversubscribe=1
# mpirun kills its ranks a second after a SIGTERM it passes on (and waits as
# long before passing it), which a busy disk's fsync can outlast; a user is
# told to give it more, as here.
export OMPI_MCA_odls_base_sigkill_timeout=3

# within TENTHS COMMAND...: waits until the command succeeds, at most TENTHS
# tenths of a second.
within() {
  local tries=$1
  shift
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}
# The checkpoint holds a finished range (the ranks are counting).
counting() { within 600 grep -qs '^done ' "$1"; }
# No process runs program $1 (mpirun's ranks outlive it a moment).
idle() { ! pgrep -f "^$(printf '%s' "$1" | sed 's/[][\\.*^$+?(){}|]/\\&/g') " > /dev/null; }
gone() { within 300 idle "$1"; }

# A wide interval without the listing, one by the window walk, one high up
# and one at the top with the listing, one low with it across many blocks;
# then the same ending at the input's end.
printf '%s\n' 300000 1 0 1 10000300000 10000000000 1 1 1000000002000 1000000000000 1 1 9223372036854775807 9223372036854775607 1 1 \
  50000 1 1 0 > "$work/several.in"
printf '%s\n' 20000 1 0 1 12 > "$work/cut.in"
for dialogue in several cut; do
  mkdir "$work/$dialogue.plain"
  (cd "$work/$dialogue.plain" && timeout 300 "$plain" < "../$dialogue.in" > out 2> err; echo $? > status)
  for ranks in 1 2 3 4; do
    run=$work/$dialogue.$ranks
    mkdir "$run"
    (cd "$run" && timeout 300 mpirun -n "$ranks" "$mpi" < "../$dialogue.in" > out 2> err; echo $? > status)
    expect "$dialogue, $ranks ranks: standard output" cmp -s "$run/out" "$work/$dialogue.plain/out"
    expect "$dialogue, $ranks ranks: exit status" test "$(cat "$run/status")" = "$(cat "$work/$dialogue.plain/status")"
    expect "$dialogue, $ranks ranks: NN.txt" cmp -s "$run/NN.txt" "$work/$dialogue.plain/NN.txt"
    # mpirun itself reports the normal exit status 1; the program writes nothing there.
    expect "$dialogue, $ranks ranks: nothing from the program on standard error" \
      test "$(grep -c '^sigma-census' "$run/err")" = 0
  done
done
# The batch census under mpirun: the plain program's output; killed with 2
# ranks, resumed with 3, the output of a run never interrupted.
run=$work/batch
mkdir "$run"
(cd "$run" && "$plain" --memory=32M --format=tsv 1 2000000000 > expected &&
  timeout 300 mpirun -n 3 "$mpi" --memory=32M --format=tsv 1 2000000000 > out 2> /dev/null)
expect "batch census, 3 ranks: the plain output" cmp -s "$run/out" "$run/expected"
# One thread, so that the run outlasts the kill (rank 1 alone would take both
# cores); mpirun itself is killed once a range is saved, and the ranks end.
(cd "$run" && { mpirun -n 2 "$mpi" --threads=1 --memory=32M --format=tsv --checkpoint=ck 1 2000000000 > /dev/null 2>&1 &
  counting ck; kill -KILL $!; wait $!; } 2> /dev/null)
expect "batch census killed under mpirun: its ranks end" gone "$mpi"
expect "batch census killed under mpirun: finished ranges kept" grep -q '^done ' "$run/ck"
(cd "$run" && timeout 300 mpirun -n 3 "$mpi" --memory=64M --format=tsv --checkpoint=ck 1 2000000000 > resumed 2> /dev/null)
expect "batch census resumed with 3 ranks: the plain output" cmp -s "$run/resumed" "$run/expected"

# SIGTERM and SIGINT to mpirun: mpirun ends with its own status (1) and
# passes SIGTERM on to the ranks, but the program's last line says the stop
# was saved, and the resumed run gives the uninterrupted output.
for signal in TERM INT; do
  (cd "$run" && rm -f ck && { mpirun -n 2 "$mpi" --threads=1 --memory=32M --format=tsv --checkpoint=ck 1 2000000000 > /dev/null 2> err &
    counting ck; kill -$signal $!; wait $!; })
  gone "$mpi"
  expect "SIG$signal to mpirun: the program's last line" \
    test "$(tail -n 1 "$run/err")" = "sigma-census: stopped by SIGTERM; checkpoint ck holds every finished range"
  expect "SIG$signal to mpirun: finished ranges kept" grep -q '^done ' "$run/ck"
  (cd "$run" && timeout 300 mpirun -n 2 "$mpi" --memory=64M --format=tsv --checkpoint=ck 1 2000000000 > resumed 2> /dev/null)
  expect "SIG$signal to mpirun, resumed: the plain output" cmp -s "$run/resumed" "$run/expected"
done

# Standard output that cannot be written, with SIGPIPE ignored: rank 0 sees
# it as the plain program does (status 3 and its line), though mpirun forwards.
run=$work/full
mkdir "$run"
(cd "$run" && trap '' PIPE && printf '%s\n' 12 1 0 0 | timeout 120 mpirun -n 3 "$mpi" > /dev/full 2> err; echo $? > status)
expect "output to a full device under mpirun: exit status 3" test "$(cat "$run/status")" = 3
expect "output to a full device under mpirun: the program's line" \
  test "$(grep -c '^sigma-census: ecriture impossible' "$run/err")" = 1

# A rank that runs out of memory ends the whole run: one line from the
# program on standard error, exit status 4, no report.
run=$work/memory
mkdir "$run"
(cd "$run" && ulimit -v 1000000 && printf '%s\n' 20000000000 1 0 0 | timeout 300 mpirun -n 2 "$mpi" > out 2> err
  echo $? > status)
expect "a rank out of memory: exit status 4" test "$(cat "$run/status")" = 4
expect "a rank out of memory: one line from the program" test "$(grep -c '^sigma-census' "$run/err")" = 1
expect "a rank out of memory: no report" test "$(grep -c 'Pour :' "$run/out")" = 0

finish
