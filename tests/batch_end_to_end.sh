#!/usr/bin/env bash
# The batch census from the command line, as a script drives it: the report
# against the dialogue's, the machine-readable formats, refused command
# lines and checkpoint files, and runs killed and resumed.
# Usage: batch_end_to_end.sh PROGRAM
set -u
program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/expect.sh"
forge=$(realpath "$(dirname "$0")/forge_checkpoint.py")
cd "$work"

# The dialogue's report of one calculation: what it prints between the
# listing question and the new-calculation question.
dialogue_report() {  # L1 L2 LISTING
  printf '%s\n' "$2" "$1" "$3" 0 | "$program" > dialogue.out
  python3 -c '
import sys
text = open("dialogue.out", encoding="latin-1").read()
start = text.index("Oui[1] / Non[0] ? :  ") + len("Oui[1] / Non[0] ? :  ")
end = text.rindex(" \n \n \n \t Nouveau calcul")
sys.stdout.write(text[start:end])' > "$4"
}

# The batch report equals the dialogue's, byte for byte: low, a window,
# high up, with and without the listing.
for case in "1 1000 0" "1 3000 1" "100 120 1" "10000000000 10000100000 0" "1000000000000 1000000002000 1" \
  "9223372036854775607 9223372036854775807 0"; do
  set -- $case
  dialogue_report "$1" "$2" "$3" expected
  flags=$([ "$3" = 1 ] && echo --list)
  "$program" $flags "$1" "$2" > batch.out 2> batch.err
  expect "[$1, $2] listing $3: the dialogue's report" cmp -s batch.out expected
  expect "[$1, $2] listing $3: nothing on standard error" test ! -s batch.err
done

# Bounds written 1e12 and 2^k; tsv and json give the same histogram, and the
# JSON parses with a real parser.
"$program" --format=tsv 2^10 1e3 > /dev/null 2>&1
expect "2^10 above 1e3 refused" test $? = 64
"$program" --format=tsv 1e3 2^11 > hist.tsv
"$program" --format=json 1000 2048 > hist.json
expect "json parses, to the histogram of tsv" python3 -c '
import json, sys
doc = json.load(open("hist.json"))
rows = [line.split("\t") for line in open("hist.tsv").read().splitlines()]
assert rows[0] == ["count", "values"], rows[0]
assert doc["from"] == 1000 and doc["to"] == 2048
assert [[str(e["count"]), str(e["values"])] for e in doc["histogram"]] == rows[1:]
assert sum(e["values"] for e in doc["histogram"]) == 1049'
"$program" --format=json --list 1 200 > list.json
"$program" --format=tsv --list 1 200 > list.tsv
expect "json and tsv listings agree, value by value" python3 -c '
import json
doc = json.load(open("list.json"))
rows = [line.split("\t") for line in open("list.tsv").read().splitlines()]
assert rows[0] == ["value", "count"]
assert [[str(e["value"]), str(e["count"])] for e in doc["values"]] == rows[1:]
assert [e["value"] for e in doc["values"]] == list(range(1, 201))
assert [e["count"] for e in doc["values"] if e["value"] == 168] == [6]'

# Refused command lines: status 64, one line, nothing computed, NN.txt untouched.
mkdir refused && cd refused
for line in "0 5" "5 3" "1 9223372036854775808" "-1 5" "1 2 3" "x 5" "--threads=0 1 5" "--memory=abc 1 5" \
  "--format=xml 1 5" "1.5e3 2000" "1 2^64" "--no-such-option 1 5" "--checkpoint=ck" "--list" "--memory=1M 1 5" "7"; do
  "$program" $line > out 2> err
  status=$?
  expect "'$line': status 64" test "$status" = 64
  expect "'$line': one line, with the hint" test "$(wc -l < err)" = 1 -a "$(grep -c -- '--help' err)" = 1
  expect "'$line': no output, no NN.txt" test ! -s out -a ! -e NN.txt -a ! -e ck
done
"$program" --help > help 2> /dev/null
expect "--help: status 0" test $? = 0
for word in --threads --memory --format --list --progress --checkpoint --version 64 65 130 143; do
  expect "--help names $word" grep -q -- "$word" help
done
"$program" --version > version
expect "--version: the version and the commit" grep -q 'sigma-census .*commit' version
cd ..

# Checkpoint files that cannot be trusted: status 65, one line, nothing
# computed, the file untouched.
"$program" --format=tsv --checkpoint=good 1 100000 > good.tsv
expect "a complete checkpoint says so" grep -q '^complete 1$' good
cp good good.saved
"$program" --format=tsv --checkpoint=good 1 100000 > again.tsv
expect "a complete checkpoint gives the result at once" cmp -s again.tsv good.tsv
head -c 200 good > truncated
sed 's/^count 1 /count 1 1/' good > altered
printf 'hello\n' > foreign
for file in good:"1 100001" good:"--list 1 100000" truncated:"1 100000" altered:"1 100000" foreign:"1 100000"; do
  name=${file%%:*}
  cp "$name" "$name.before"
  "$program" --checkpoint="$name" ${file#*:} > out 2> err
  expect "checkpoint $name for '${file#*:}': status 65" test $? = 65
  expect "checkpoint $name: one line" test "$(wc -l < err)" = 1 -a ! -s out
  expect "checkpoint $name: left untouched" cmp -s "$name" "$name.before"
done

# Killed and resumed: a census cut into many blocks by a small memory bound,
# killed at several moments, then resumed (with another thread count), gives
# the output of a run never interrupted.
resume_test() {  # NAME FLAGS...
  local name=$1
  shift
  mkdir "$name" && cd "$name"
  "$program" "$@" > expected
  [ -f NN.txt ] && mv NN.txt NN.expected
  for pause in 0.5 1.5 3; do
    "$program" --checkpoint=ck "$@" > /dev/null 2>&1 &
    sleep "$pause"
    kill -KILL $! 2> /dev/null
    wait $! 2> /dev/null
  done
  "$program" --checkpoint=ck --threads=1 "$@" > resumed 2> err
  expect "$name: resumed output as uninterrupted" cmp -s resumed expected
  expect "$name: checkpoint complete" grep -q '^complete 1$' ck
  [ -f NN.expected ] && expect "$name: NN.txt as uninterrupted" cmp -s NN.txt NN.expected
  cd ..
}
resume_test summary --memory=16M --format=tsv 1 3000000000
resume_test listing --memory=16M --list 1 60000000

# SIGTERM and SIGINT: status 128 + the signal, every finished range kept.
for signal in TERM:143 INT:130; do
  rm -f ck
  "$program" --memory=16M --checkpoint=ck 1 3000000000 > /dev/null &
  sleep 2
  kill -"${signal%%:*}" $!
  wait $!
  expect "SIG${signal%%:*}: status ${signal#*:}" test $? = "${signal#*:}"
  expect "SIG${signal%%:*}: finished ranges kept" grep -q '^done 1 ' ck
done

# --preimages S: every m with sigma(m) = S in increasing order, in three
# formats; a value with more preimages than one pass of a small budget holds
# gives the same list in passes.
mkdir preimages && cd preimages
"$program" --preimages 720 > text
"$program" --preimages 720 --format=tsv > tsv
"$program" --preimages 720 --format=json > json
expect "--preimages 720: the fifteen m, one a line" test "$(tr '\n' ' ' < text)" = \
  "264 270 280 354 376 406 418 435 459 478 537 623 649 667 719 "
expect "--preimages 720, tsv: a header, then the same" cmp -s <(printf 'm\n'; cat text) tsv
expect "--preimages 720, json: the same, with the count" python3 -c '
import json
doc = json.load(open("json"))
assert doc["value"] == 720 and doc["count"] == 15
assert doc["preimages"] == [int(line) for line in open("text")]'
"$program" --preimages 1307674368000 > whole
"$program" --memory=16M --preimages 1307674368000 > passes
expect "--preimages of 15! in passes of a small budget: the same list" cmp -s whole passes
expect "--preimages of 15!: 910254 m, increasing, each with that sigma" python3 -c '
values = [int(line) for line in open("whole")]
assert len(values) == 910254 and all(a < b for a, b in zip(values, values[1:]))
def sigma(m):
    total, p = 1, 2
    while p * p <= m:
        if m % p == 0:
            power, part = 1, 1
            while m % p == 0:
                m //= p
                power *= p
                part += power
            total *= part
        p += 1
    return total * (m + 1 if m > 1 else 1)
assert all(sigma(m) == 1307674368000 for m in values[::9000] + values[-5:])'
expect "--preimages of a value with none: nothing" test "$("$program" --preimages 2 | wc -c)" = 0
for line in "--preimages 0" "--preimages 2^63" "--preimages x" "--preimages 5 1 10" "--preimages 5 --list"; do
  "$program" $line > out 2> err
  expect "'$line': status 64" test $? = 64
  expect "'$line': one line" test "$(wc -l < err)" = 1 -a ! -s out
done
cd ..

# Careless command lines and checkpoint paths: one line and a status at once
# (every run bounded by a timeout), NN.txt and the path left as they were.
mkdir careless && cd careless
echo keep > NN.txt
careless() {  # DESCRIPTION STATUS ARGUMENTS...: with standard input open, as in a batch job
  local what=$1 want=$2
  shift 2
  timeout 10 "$program" "$@" < <(sleep 10) > out 2> err
  local status=$?
  expect "$what: status $want (got $status)" test "$status" = "$want"
  expect "$what: one line" test "$(wc -l < err)" = 1 -a ! -s out
  expect "$what: NN.txt untouched" test "$(cat NN.txt)" = keep
}
careless "empty bounds" 64 "" ""
careless "an empty L1" 64 "" 5
careless "an empty --checkpoint= before bounds" 64 --checkpoint= 5 10 20
expect "an empty --checkpoint=: no file named after a bound" test ! -e 5
careless "an empty --memory=" 64 --memory= --format=tsv 1 10
careless "an empty --threads=" 64 --threads= 1 10
careless "0^0" 64 0^0 5
careless "a bound of 100000 characters" 64 1 "$(printf '9%.0s' $(seq 100000))"
expect "a long bound is cut in its error line" test "$(wc -c < err)" -lt 300
mkfifo fifo.ck
careless "a FIFO as the checkpoint" 65 --checkpoint=fifo.ck 1 1000
expect "the FIFO is left in place" test -p fifo.ck
careless "/dev/full as the checkpoint" 65 --checkpoint=/dev/full 1 1000
careless "/dev/zero as the checkpoint" 65 --checkpoint=/dev/zero 1 1000
careless "a directory as the checkpoint" 65 --checkpoint=. 1 1000
expect "a directory: named as no regular file" grep -q 'not a regular file' err
head -c $((64 * 1024 * 1024 + 1)) /dev/zero > huge.ck
careless "a checkpoint larger than any could be" 65 --checkpoint=huge.ck 1 1000
careless "a checkpoint in no directory" 73 --checkpoint=nodir/x.ck 1 1000
expect "--help names status 73" sh -c '"$0" --help | grep -q "^  73 "' "$program"
# A checkpoint that parses and hashes well but cannot be true.
"$program" --checkpoint=good.ck 1 1000 > /dev/null
python3 "$forge" good.ck '^count .*\n' '' '^complete 1' 'count 1000 1000\ncomplete 1'
careless "a rehashed checkpoint saying count 1000 1000" 65 --checkpoint=good.ck 1 1000
expect "the forged checkpoint: named as impossible" grep -q 'preimages' err
cd ..

# A listing taken up from a checkpoint whose histogram is not the tally of
# NN.txt's counts (moved by one, rehashed): refused before any output.
mkdir forged_listing && cd forged_listing
"$program" --list --checkpoint=ck --format=tsv 1 1000 > expected
zero=$(awk '$1 == "count" && $2 == 0 { print $3 }' ck)
one=$(awk '$1 == "count" && $2 == 1 { print $3 }' ck)
python3 "$forge" ck "^count 0 $zero\$" "count 0 $((zero - 1))" "^count 1 $one\$" "count 1 $((one + 1))"
cp ck ck.before
timeout 10 "$program" --list --checkpoint=ck --format=tsv 1 1000 > out 2> err
expect "a listing's histogram moved by one: status 65" test $? = 65
expect "a listing's histogram moved by one: one line, no output" test "$(wc -l < err)" = 1 -a ! -s out
expect "a listing's histogram moved by one: named" grep -q 'tally' err
expect "a listing's histogram moved by one: the file left as it was" cmp -s ck ck.before
cd ..

# Standard output closed: the dialogue's texts never reach NN.txt.
mkdir closed && cd closed
printf '1000\n1\n1\n0\n' | timeout 10 "$program" >&- 2> err
expect "standard output closed: status 3" test $? = 3
expect "standard output closed: NN.txt holds records only" grep -qvE '[^0-9 ]' NN.txt
expect "standard output closed: no banner in NN.txt" test "$(grep -c POUR NN.txt)" = 0
cd ..

# A checkpoint that cannot be written later in the run (its directory gone):
# one warning, the census goes on, its output complete, then status 73.
mkdir stale && cd stale
"$program" --memory=16M --format=tsv 1 1000000000 > expected
mkdir gone
"$program" --memory=16M --format=tsv --checkpoint=gone/ck 1 1000000000 > out 2> err &
sleep 1
# The census may write a temporary file there while rm empties it: again until it is gone.
while [ -e gone ]; do rm -rf gone 2> /dev/null; done
wait $!
expect "a checkpoint lost mid-run: status 73" test $? = 73
expect "a checkpoint lost mid-run: the output complete" cmp -s out expected
expect "a checkpoint lost mid-run: a warning, then the stale line" test "$(wc -l < err)" = 2
cd ..

# A checkpoint behind one's own symbolic link is saved through it.
mkdir linked && cd linked
mkdir disk && touch disk/real.ck && rm disk/real.ck
"$program" --format=tsv --checkpoint=disk/real.ck 1 1000 > expected
ln -s disk/real.ck link.ck
"$program" --format=tsv --checkpoint=link.ck 1 1000 > out
expect "a linked checkpoint: the same output" cmp -s out expected
expect "a linked checkpoint: the link kept" test -L link.ck
cd ..

# --progress: lines on standard error though it is no terminal.
"$program" --progress --memory=16M --format=tsv 1 3000000000 > /dev/null 2> progress
expect "--progress writes lines to a log" grep -q 'reste environ' progress

finish
