#!/usr/bin/env bash
# The program under real memory limits of a control group: a limit on a
# parent group (the layout of service managers and batch queues), a listing
# in a small group, and groups too small for any calculation. Each run gives
# the report of an unlimited run, or ends with status 4 and one line: never a
# kill. Skipped, with a line saying so, where groups cannot be made.
# Usage: limits_end_to_end.sh PROGRAM
set -u
program=$(realpath "$1")
work=$(mktemp -d)
source "$(dirname "$0")/expect.sh"

# A parent group with a limit and an unlimited child, under cgroup v1 or v2.
if [ -w /sys/fs/cgroup/memory ] && [ -f /sys/fs/cgroup/memory/memory.limit_in_bytes ]; then
  parent=/sys/fs/cgroup/memory/sigma_test_$$
  limit_file=memory.limit_in_bytes
elif [ -w /sys/fs/cgroup ] && grep -qw memory /sys/fs/cgroup/cgroup.controllers 2> /dev/null; then
  parent=/sys/fs/cgroup/sigma_test_$$
  limit_file=memory.max
  echo +memory > /sys/fs/cgroup/cgroup.subtree_control 2> /dev/null
else
  parent=
fi
if [ -z "$parent" ] || ! mkdir "$parent" 2> /dev/null || ! mkdir "$parent/job"; then
  echo "limits_end_to_end: no control group can be made here, skipped"
  rm -rf "$work"
  exit 0
fi
[ "$limit_file" = memory.max ] && echo +memory > "$parent/cgroup.subtree_control" 2> /dev/null
trap 'rmdir "$parent/job" "$parent" 2> /dev/null; rm -rf "$work"' EXIT

# run NAME LIMIT ANSWERS: runs the program in the child, the limit on the parent.
run() {
  echo "$2" > "$parent/$limit_file"
  mkdir -p "$work/$1"
  (cd "$work/$1" && echo $BASHPID > "$parent/job/cgroup.procs" &&
    printf '%s\n' $3 | timeout 300 "$program" > out 2> err; echo $? > status)
}
reference() {
  mkdir -p "$work/ref.$1"
  (cd "$work/ref.$1" && printf '%s\n' $2 | timeout 300 "$program" > out)
}

reference summary "1000000000 1 0 0"
run parent 600M "1000000000 1 0 0"
expect "a limit on the parent group: the report" cmp -s "$work/parent/out" "$work/ref.summary/out"
expect "a limit on the parent group: exit status 1" test "$(cat "$work/parent/status")" = 1
for limit in 64M 50M; do
  run "small.$limit" "$limit" "1000000000 1 0 0"
  expect "the summary in $limit: the report" cmp -s "$work/small.$limit/out" "$work/ref.summary/out"
done

# The listing keeps its values within the budget.
reference listing "100000000 1 1 0"
run listing 80M "100000000 1 1 0"
expect "a listing in 80M: the report" cmp -s "$work/listing/out" "$work/ref.listing/out"
expect "a listing in 80M: exit status 1" test "$(cat "$work/listing/status")" = 1

# Too small for any calculation: one line and status 4, no report.
run tiny 24M "1000000000 1 0 0"
expect "a group too small: exit status 4" test "$(cat "$work/tiny/status")" = 4
expect "a group too small: one line" test "$(wc -l < "$work/tiny/err")" = 1
expect "a group too small: no report" test "$(grep -c 'Pour :' "$work/tiny/out")" = 0

finish
