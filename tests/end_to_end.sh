#!/usr/bin/env bash
# Runs the built program as a separate process with scripted answers, in a
# temporary directory, and compares its whole standard output and exit status
# with the transcripts kept beside this script.
# Usage: end_to_end.sh PROGRAM TRANSCRIPT_DIR
set -u
program=$(realpath "$1")
transcripts=$(realpath "$2")
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
source "$(dirname "$0")/expect.sh"

# Each transcript: answers from a pipe, and again from a regular file, must
# give exactly the recorded output and exit status.
for input in "$transcripts"/*.in; do
  name=$(basename "$input" .in)
  run=$(mktemp -d "$work/$name.XXXX")
  (cd "$run" && cat "$input" | timeout 60 "$program" > out.pipe 2> err.pipe; echo $? > status.pipe)
  (cd "$run" && timeout 60 "$program" < "$input" > out.file 2> err.file; echo $? > status.file)
  for how in pipe file; do
    expect "$name ($how): standard output" cmp -s "$run/out.$how" "$transcripts/$name.out"
    expect "$name ($how): exit status" test "$(cat "$run/status.$how")" = "$(cat "$transcripts/$name.status")"
    expect "$name ($how): nothing on standard error" test ! -s "$run/err.$how"
  done
done

# The pairs file after a run: the last calculation with the listing on wrote it.
run=$(mktemp -d "$work/pairs.XXXX")
(cd "$run" && printf '12\n1\n1\n0\n' | "$program" > /dev/null)
expect "pairs file of [1, 12]" test "$(cat "$run/NN.txt")" = "1 1 0 2 1 3 1 4 0 5 1 6 1 7 1 8 0 9 0 10 0 11 2 12 "
(cd "$run" && printf '12\n1\n0\n0\n' | "$program" > /dev/null)
expect "pairs file emptied by a calculation without listing" test -f "$run/NN.txt" -a ! -s "$run/NN.txt"

# A pairs file that cannot be written: NN.txt is a directory.
reference=$(mktemp -d "$work/ref.XXXX")
(cd "$reference" && printf '300\n1\n1\n0\n' | "$program" > out)
run=$(mktemp -d "$work/dir.XXXX")
mkdir "$run/NN.txt"
(cd "$run" && printf '300\n1\n1\n0\n' | "$program" > out 2> err)
expect "listing without a writable file" cmp -s "$run/out" "$reference/out"
expect "one warning when the file cannot be made" test "$(wc -l < "$run/err")" = 1

# Anything but a regular file at NN.txt is refused without waiting on it: a
# FIFO (an open for writing would block until a reader comes), and a FIFO
# behind the user's own symbolic link.
run=$(mktemp -d "$work/fifo.XXXX")
mkfifo "$run/NN.txt"
(cd "$run" && printf '300\n1\n1\n0\n' | timeout 20 "$program" > out 2> err; echo $? > status)
expect "a FIFO at NN.txt: the same report" cmp -s "$run/out" "$reference/out"
expect "a FIFO at NN.txt: exit status" test "$(cat "$run/status")" = 1
expect "a FIFO at NN.txt: one warning" test "$(wc -l < "$run/err")" = 1
run=$(mktemp -d "$work/fifolink.XXXX")
mkfifo "$run/pipe"
ln -s pipe "$run/NN.txt"
(cd "$run" && printf '300\n1\n1\n0\n' | timeout 20 "$program" > out 2> err; echo $? > status)
expect "a link to a FIFO: the same report" cmp -s "$run/out" "$reference/out"
expect "a link to a FIFO: one warning" test "$(wc -l < "$run/err")" = 1

# A symbolic link of the user's own is followed (NN.txt kept on another disk).
run=$(mktemp -d "$work/ownlink.XXXX")
mkdir "$run/elsewhere"
ln -s elsewhere/pairs "$run/NN.txt"
(cd "$run" && printf '12\n1\n1\n0\n' | "$program" > out 2> err)
expect "an own link is followed" test "$(cat "$run/elsewhere/pairs")" = "1 1 0 2 1 3 1 4 0 5 1 6 1 7 1 8 0 9 0 10 0 11 2 12 "
expect "an own link: no warning" test ! -s "$run/err"

# A link planted by another user in a shared sticky directory is not
# followed: its target stays untouched, the report stays the same.
if command -v setpriv > /dev/null && [ "$(id -u)" = 0 ] && id nobody > /dev/null 2>&1; then
  run=$(mktemp -d "$work/sticky.XXXX")
  chmod 755 "$work"
  chmod 1777 "$run"
  echo "precious" > "$work/victim"
  setpriv --reuid=nobody --regid=nogroup --clear-groups ln -s "$work/victim" "$run/NN.txt"
  (cd "$run" && printf '300\n1\n1\n0\n' | "$program" > out 2> err)
  expect "a planted link: the same report" cmp -s "$run/out" "$reference/out"
  expect "a planted link: one warning" test "$(wc -l < "$run/err")" = 1
  expect "a planted link: its target untouched" test "$(cat "$work/victim")" = precious
fi

# Writes that fail part-way: a file-size limit, with SIGXFSZ ignored so that
# the write returns an error instead of killing the process.
run=$(mktemp -d "$work/limit.XXXX")
(cd "$reference" && printf '100000\n1\n1\n0\n' | "$program" > big)
# The limit applies to the program alone: its output goes through a pipe.
(cd "$run" && { (trap '' XFSZ && ulimit -f 100 && printf '100000\n1\n1\n0\n' | "$program" 2> err; echo $? > status) | cat > big; })
expect "listing with a file-size limit" cmp -s "$run/big" "$reference/big"
expect "exit status with a file-size limit" test "$(cat "$run/status")" = 1
expect "one warning with a file-size limit" test "$(wc -l < "$run/err")" = 1

# The file changed between the scan and the read-back: the program is
# stopped under gdb where the listing starts reading, the file is altered,
# and the run goes on.
if command -v gdb > /dev/null; then
  (cd "$reference" && printf '3000\n1\n1\n0\n' | "$program" > mid.out)
  # The last change is a run of the digit 0 longer than the reader's buffer.
  for change in 'truncate -s 100 NN.txt' 'rm NN.txt' 'rm NN.txt && mkfifo NN.txt' "sed -i 's/^1 1 /2 1 /' NN.txt" "printf '0 1 ' > NN.txt" \
    "head -c 3000000 /dev/zero | tr '\\0' 0 > NN.txt"; do
    run=$(mktemp -d "$work/gdb.XXXX")
    printf '3000\n1\n1\n0\n' > "$run/in"
    # LeakSanitizer cannot run under a debugger; the other checks still do.
    (cd "$run" && ASAN_OPTIONS=detect_leaks=0 timeout 120 gdb -q -batch -ex 'set pagination off' -ex 'tbreak census::readPairsFile' \
      -ex 'run < in > out 2> err' -ex "shell $change" -ex 'continue' "$program" > gdb.log 2>&1)
    expect "listing after '$change'" cmp -s "$run/out" "$reference/mid.out"
    expect "one warning after '$change'" test "$(wc -l < "$run/err")" = 1
  done
fi

# A directory without write permission, for a user other than root.
if command -v setpriv > /dev/null && [ "$(id -u)" = 0 ] && id nobody > /dev/null 2>&1; then
  run=$(mktemp -d "$work/ro.XXXX")
  chmod 755 "$work" "$run"
  (cd "$run" && printf '300\n1\n1\n0\n' | setpriv --reuid=nobody --regid=nogroup --clear-groups "$program" > "$work/ro.out" 2> "$work/ro.err")
  expect "listing in a read-only directory" cmp -s "$work/ro.out" "$reference/out"
  expect "one warning in a read-only directory" test "$(wc -l < "$work/ro.err")" = 1
fi

# Standard output closed early: the program ends, it does not hang.
run=$(mktemp -d "$work/head.XXXX")
(cd "$run" && yes 1 | timeout 20 "$program" | head -c 100 > /dev/null)
expect "output closed early ends the program" test "${PIPESTATUS[1]:-0}" != 124
(cd "$run" && printf '100000\n1\n1\n0\n' | timeout 20 "$program" | head -c 100 > /dev/null; test "${PIPESTATUS[1]}" != 124)
expect "output closed during a listing ends the program" test $? = 0

# Standard output that cannot be written: exit status 3 and one line on standard error.
run=$(mktemp -d "$work/full.XXXX")
(cd "$run" && printf '12\n1\n0\n1\n12\n1\n0\n0\n' | timeout 20 "$program" > /dev/full 2> err; echo $? > status)
expect "output to a full device: exit status 3" test "$(cat "$run/status")" = 3
expect "output to a full device: one line on standard error" test "$(wc -l < "$run/err")" = 1
# With SIGPIPE ignored, a closed pipe is a failing output too.
(cd "$run" && { (trap '' PIPE && yes 1 2> /dev/null | timeout 20 "$program" 2> /dev/null; echo $? > status) | head -c 100 > /dev/null; })
expect "output closed with SIGPIPE ignored: exit status 3" test "$(cat "$run/status")" = 3

# A token of 10 MB is refused like any other; the answers after it are read.
run=$(mktemp -d "$work/huge.XXXX")
(cd "$run" && { head -c 10000000 /dev/zero | tr '\0' '7'; printf '\n12\n1\n0\n0\n'; } | timeout 60 "$program" > out; echo $? > status)
expect "huge token: exit status" test "$(cat "$run/status")" = 1
expect "huge token: asked again" test "$(grep -c 'Valeur maximale' "$run/out")" = 2

# Memory that runs out during a calculation: one line on standard error and
# exit status 4, no report. (Sanitizers need more address space than the limit.)
if ! grep -q __asan_init "$program"; then
  run=$(mktemp -d "$work/memory.XXXX")
  (cd "$run" && ulimit -v 400000 && printf '1000000000\n1\n0\n0\n' | timeout 60 "$program" > out 2> err; echo $? > status)
  expect "memory exhausted: exit status 4" test "$(cat "$run/status")" = 4
  expect "memory exhausted: one line on standard error" test "$(wc -l < "$run/err")" = 1
  expect "memory exhausted: no report" test "$(grep -c 'Pour :' "$run/out")" = 0
fi

finish
