#!/usr/bin/env python3
"""Per-block histograms of a long census, for checking a sample of its blocks.

watch CHECKPOINT LOG  -- while a census runs with --checkpoint=CHECKPOINT,
    appends to LOG one line per change of the checkpoint: the range finished
    since the change before and that range's own histogram (the difference of
    the two summed histograms). A census run in order saves its checkpoint as
    its blocks finish, at most once a second, so a line is one block (or a few).
    Ends when the checkpoint says complete.
check PROGRAM LOG N MEMORY -- reruns N of the logged ranges, spread evenly,
    with --memory=MEMORY (so with other blocks) and compares each histogram
    with the logged one (ranges of 2^34 values or more, logged while no
    watcher ran, are left out). Exit status 1 when one differs.
"""
import os
import subprocess
import sys
import time


def read_checkpoint(path):
    """(done ranges, histogram, complete) of a saved checkpoint, or None."""
    try:
        with open(path) as f:
            text = f.read()
    except FileNotFoundError:
        return None
    if not text.endswith("\n") or "\nxxh64 " not in text:
        return None  # the file is replaced by a rename, so this is rare
    done, hist, complete = [], {}, False
    for line in text.splitlines():
        words = line.split()
        if words[0] == "done":
            done.append((int(words[1]), int(words[2])))
        elif words[0] == "count":
            hist[int(words[1])] = int(words[2])
        elif words[0] == "complete":
            complete = words[1] == "1"
    return done, hist, complete


MAX_RERUN = 1 << 34


def covered(done):
    return sum(b - a + 1 for a, b in done)


def new_range(before, after):
    """The one range of `after` not in `before` (a run in order adds one)."""
    fresh = [r for r in after if r not in before]
    if len(fresh) != 1:
        raise SystemExit(f"not one new range: {before} -> {after}")
    a, b = fresh[0]
    for a0, b0 in before:  # a merged range: its new part only
        if a0 == a and b0 < b:
            a = b0 + 1
    return a, b


def watch(checkpoint, log):
    # A fresh run writes its checkpoint first when its first block is done.
    state = read_checkpoint(checkpoint) or ([], {}, False)
    seen = None
    with open(log, "a") as out:
        while not state[2]:
            time.sleep(0.2)
            try:  # a frontier checkpoint is megabytes: read it only when replaced
                info = os.stat(checkpoint)
                stamp = (info.st_ino, info.st_mtime_ns)
            except FileNotFoundError:
                continue
            if stamp == seen:
                continue
            later = read_checkpoint(checkpoint)
            if later is None:
                continue
            seen = stamp
            if covered(later[0]) == covered(state[0]):
                continue
            a, b = new_range(state[0], later[0])
            diff = {n: c - state[1].get(n, 0) for n, c in later[1].items()}
            diff = {n: c for n, c in diff.items() if c}
            if any(c < 0 for c in diff.values()) or sum(diff.values()) != b - a + 1:
                raise SystemExit(f"inconsistent change for [{a}, {b}]")
            pairs = ",".join(f"{n}:{c}" for n, c in sorted(diff.items()))
            out.write(f"{a}\t{b}\t{pairs}\n")
            out.flush()
            state = later


def check(program, log, samples, memory):
    with open(log) as f:
        lines = [line.split("\t") for line in f if line.strip()]
    # A range logged while no watcher ran holds many blocks: too wide to rerun.
    lines = [line for line in lines if int(line[1]) - int(line[0]) < MAX_RERUN]
    step = max(1, len(lines) // samples)
    picked = lines[step // 2 :: step][:samples]
    bad = 0
    for a, b, pairs in picked:
        logged = {int(n): int(c) for n, c in (p.split(":") for p in pairs.strip().split(","))}
        out = subprocess.run(
            [program, "--format=tsv", f"--memory={memory}", a, b],
            check=True, capture_output=True, text=True).stdout.splitlines()
        again = {int(n): int(c) for n, c in (line.split("\t") for line in out[1:])}
        same = again == logged
        bad += not same
        print(f"[{a}, {b}] {'identical' if same else 'DIFFERENT'}", flush=True)
    print(f"{len(picked)} ranges, {bad} different")
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "watch":
        watch(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 6 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]))
    else:
        sys.exit(__doc__)
