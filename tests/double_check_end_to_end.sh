#!/usr/bin/env bash
# --double-check: the same report as without it; a count made wrong on
# purpose (the Debug build's SIGMA_CENSUS_TEST_MISCOUNT) is caught with
# status 70 and a line naming the value and both counts, the checkpoint
# keeping only confirmed blocks; the run resumed without the fault ends as
# an uninterrupted one; the checkpoint and the JSON say whether the whole
# census was double-checked. With an MPI Debug build, the same under mpirun,
# the recount done by another rank.
# Usage: double_check_end_to_end.sh DEBUG_PROGRAM RELEASE_PROGRAM [MPI_DEBUG_PROGRAM]
set -u
debug=$(realpath "$1")
release=$(realpath "$2")
mpi=${3:+$(realpath "$3")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/expect.sh"
cd "$work"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
export OMPI_MCA_btl_vader_single_copy_mechanism=none OMPI_MCA_rmaps_base_oversubscribe=1

# Several sieve blocks (a small budget), and inversion blocks high up.
interval="1 200000000"
fault=150000000
"$release" --format=tsv --memory=64M $interval > expected
"$release" --format=tsv --memory=64M --double-check $interval > checked
expect "double-checked: the same report" cmp -s checked expected
high="1000000000000000 1000000000100000"
"$release" --format=tsv $high > expected.high
"$release" --format=tsv --double-check $high > checked.high
expect "double-checked high up (inversion blocks, recounted by the walk): the same report" \
  cmp -s checked.high expected.high

# A wrong count: caught, named, and nothing of its block kept.
SIGMA_CENSUS_TEST_MISCOUNT=$fault timeout 300 "$debug" --format=tsv --memory=64M --double-check \
  --checkpoint=ck $interval > out 2> err
expect "a wrong count: status 70" test $? = 70
expect "a wrong count: no report" test ! -s out
expect "a wrong count: the line names the value and both counts" \
  grep -Eq '^sigma-census: double check failed at S = [0-9]+: the block counted [0-9]+, the inversion counts [0-9]+; ' err
expect "a wrong count: the value is at or past the fault, the block's count one more" python3 -c "
import re
m = re.search(r'S = (\d+): the block counted (\d+), the inversion counts (\d+)', open('err').read())
assert int(m[1]) >= $fault and int(m[2]) == int(m[3]) + 1, m.groups()"
expect "a wrong count: the checkpoint keeps confirmed blocks below the fault only" python3 -c "
ranges = [list(map(int, l.split()[1:])) for l in open('ck') if l.startswith('done ')]
assert ranges and all(last < $fault for _, last in ranges), ranges"
expect "a wrong count: the checkpoint says double-checked" grep -q '^checked 1$' ck
timeout 300 "$debug" --format=json --memory=64M --double-check --checkpoint=ck $interval > resumed.json
expect "resumed without the fault: status 0" test $? = 0
expect "resumed: the uninterrupted histogram, said double-checked" python3 -c "
import json
doc = json.load(open('resumed.json'))
rows = [l.split('\t') for l in open('expected').read().splitlines()[1:]]
assert [[str(e['count']), str(e['values'])] for e in doc['histogram']] == rows
assert doc['double_checked'] is True"
expect "resumed: complete and double-checked" grep -q '^checked 1$' ck

# Resumed without the check, the census is no longer double-checked as a whole.
cp ck partial.ck
rm ck
SIGMA_CENSUS_TEST_MISCOUNT=$fault "$debug" --format=tsv --memory=64M --double-check --checkpoint=ck $interval \
  > /dev/null 2>&1
"$release" --format=json --memory=64M --checkpoint=ck $interval > unchecked.json
expect "a half-checked census: not said double-checked" python3 -c "
import json
assert json.load(open('unchecked.json'))['double_checked'] is False"
expect "a half-checked census: the checkpoint has no mark" test "$(grep -c '^checked' ck)" = 0

# With the listing: the fault stops the run, NN.txt's confirmed part is
# taken up by the next run, whose listing is that of an uninterrupted one.
"$release" --format=tsv --list 1 3000000 > listed.expected
SIGMA_CENSUS_TEST_MISCOUNT=2500000 "$debug" --format=tsv --list --memory=16M --double-check --checkpoint=list.ck \
  1 3000000 > /dev/null 2> err
expect "a wrong count with the listing: status 70" test $? = 70
"$debug" --format=tsv --list --memory=16M --double-check --checkpoint=list.ck 1 3000000 > listed
expect "the listing resumed after a wrong count: the uninterrupted listing" cmp -s listed listed.expected

# The hook exists in Debug builds only.
SIGMA_CENSUS_TEST_MISCOUNT=$fault "$release" --format=tsv --memory=64M --double-check $interval > release.out
expect "a release build has no test hook" cmp -s release.out expected

if [ -n "$mpi" ]; then
  for ranks in 2 3 4; do
    timeout 300 mpirun -n "$ranks" "$mpi" --format=tsv --memory=64M --double-check $interval > mpi.out 2> /dev/null
    expect "$ranks ranks, double-checked: the plain report" cmp -s mpi.out expected
    rm -f mpi.ck
    SIGMA_CENSUS_TEST_MISCOUNT=$fault timeout 300 mpirun -n "$ranks" "$mpi" --format=tsv --memory=64M \
      --double-check --checkpoint=mpi.ck $interval > mpi.out 2> err
    expect "$ranks ranks, a wrong count: status 70 (through MPI_Abort)" test $? = 70
    expect "$ranks ranks, a wrong count: no report" test ! -s mpi.out
    expect "$ranks ranks, a wrong count: named, with the ranks" \
      grep -Eq '^sigma-census: double check failed at S = [0-9]+: .*\(block on rank [0-9]+, recounted on rank [0-9]+\)' err
    expect "$ranks ranks, a wrong count: recounted by another rank" python3 -c "
import re
m = re.search(r'block on rank (\d+), recounted on rank (\d+)', open('err').read())
assert m[1] != m[2], m.groups()"
    expect "$ranks ranks, a wrong count: only blocks below the fault kept" python3 -c "
ranges = [list(map(int, l.split()[1:])) for l in open('mpi.ck') if l.startswith('done ')]
assert all(last < $fault for _, last in ranges), ranges"
    sleep 0.5
  done
  timeout 300 mpirun -n 3 "$mpi" --format=tsv --memory=64M --double-check --checkpoint=mpi.ck $interval > mpi.out \
    2> /dev/null
  expect "3 ranks, resumed after a wrong count: the plain report" cmp -s mpi.out expected
  timeout 300 mpirun -n 3 "$mpi" --format=tsv --list --double-check 1 3000000 > mpi.listed 2> /dev/null
  expect "3 ranks, listing double-checked: the plain listing" cmp -s mpi.listed listed.expected
fi

finish
