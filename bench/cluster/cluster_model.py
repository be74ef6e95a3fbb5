#!/usr/bin/env python3
"""A model of a census spread over MPI ranks: the dynamic hand-out of the
program's RankSession, simulated event by event, with block costs measured
on this machine (bench/README.md) and a message latency.

What is modelled, as the program does it:
- the interval [1, N] cut as the MPI layer cuts it: window blocks of at most
  N / (8 R) + 1 values, and no wider than the memory allows (Wmax);
- each block's cost: its width times the pace per 2^30 values at its height
  (interpolated in log2 of the height between the measured points), in
  core-seconds, divided by the rank's threads, times a spread drawn from the
  measured block-to-block deviations; a rank's first block pays the fresh
  pages (the measured factor for its width);
- rank 0 hands blocks out from a look-ahead of 8 R blocks, costliest first,
  to whichever rank is free; it is one server: each message it takes waits
  for its next look (it probes every 200 us, so 100 us on average), then
  takes rank 0 `handling` seconds; every message takes `latency` seconds;
- with the double check, each block's sample goes, as a job of its own, to
  another free rank, and the block is done when that job is back.

Usage: cluster_model.py [--seed S]   (prints the tables of bench/README.md)
"""
import argparse
import collections
import heapq
import math
import random

# Core-seconds per 2^30 values inside a run (CPU seconds of the 2-core
# machine's blocks, bench/README.md, block_pace): wide blocks (2^32) and
# narrow ones (2^30), near 2^36, 2^40 and 2^44 (2026-12-08).
PACE = {
    32: {36: 4.15, 40: 5.44, 44: 14.81},
    30: {36: 4.34, 40: 9.54, 44: 46.74},
}
# A rank's first block, alone with its fresh pages, against one inside a run
# (near 2^40; near 2^44 the wide block's is 1.41, the narrow one's 1.05).
FRESH = {32: 1.88, 30: 1.15}
# Block-to-block deviations from their mean, inside a run (block_pace: the
# second and third blocks of each kind).
SPREAD = [0.008, -0.008, 0.021, -0.021, 0.040, -0.040, 0.003, -0.003, 0.013, -0.013]
# The double check: a block's sample of 1000 values recounted, in core-seconds
# (the inversion near 2^40 and 2^44: a few microseconds a value).
RECOUNT = 1000 * 6e-6
POLL = 200e-6  # rank 0's probing period


def pace(height_bits, width_bits):
    """Core-seconds per 2^30 values at height 2^height_bits for blocks of 2^width_bits."""
    table = PACE[32 if width_bits >= 31 else 30]
    points = sorted(table)
    h = min(max(height_bits, points[0]), points[-1])
    for lo, hi in zip(points, points[1:]):
        if lo <= h <= hi:
            t = (h - lo) / (hi - lo)
            return math.exp((1 - t) * math.log(table[lo]) + t * math.log(table[hi]))
    return table[points[-1]]


def blocks_of(n_bits, ranks, wmax_bits):
    """The blocks (first, width) of [1, 2^n_bits], cut as the MPI layer cuts windows."""
    n = 2 ** n_bits
    width = min(2 ** wmax_bits, n // (8 * ranks) + 1)
    return [(first, min(width, n - first + 1)) for first in range(1, n + 1, width)]


def simulate(n_bits, ranks, threads, wmax_bits, latency, handling, check, rng):
    """Wall seconds, efficiency and rank 0's busy share of [1, 2^n_bits] on `ranks` serving ranks."""
    blocks = blocks_of(n_bits, ranks, wmax_bits)
    width_bits = math.log2(blocks[0][1])
    costs = [width / 2 ** 30 * pace(math.log2(first + width), width_bits) / threads * (1 + rng.choice(SPREAD))
             for first, width in blocks]
    fresh = FRESH[32 if width_bits >= 31 else 30]
    # The look-ahead: 8 R blocks at a time, costliest (highest) first.
    queue = collections.deque()
    for start in range(0, len(costs), 8 * ranks):
        queue.extend(reversed(range(start, min(len(costs), start + 8 * ranks))))
    checks = collections.deque()  # the owners of blocks whose sample waits for a rank
    idle = []
    started = [False] * ranks
    state = {"free": 0.0, "busy": 0.0}
    events = []  # (when a message reaches rank 0, rank, kind)

    def take(at):
        """Rank 0 takes a message that reached it at `at`; returns when it is done with it."""
        begin = max(at + rng.uniform(0, POLL), state["free"])
        state["free"] = begin + handling
        state["busy"] += handling
        return state["free"]

    def hand_out(rank, at):
        """The next job for `rank` at time `at`: a recount of another's block, else a block."""
        if check and checks and checks[0] != rank:
            checks.popleft()
            heapq.heappush(events, (at + 2 * latency + RECOUNT / threads, rank, "checked"))
        elif queue:
            cost = costs[queue.popleft()] * (1.0 if started[rank] else fresh)
            started[rank] = True
            heapq.heappush(events, (at + 2 * latency + cost, rank, "block"))
        else:
            idle.append(rank)

    at = 0.0
    for rank in range(ranks):
        at = take(at)
        hand_out(rank, at)
    end = 0.0
    while events:
        arrived, rank, kind = heapq.heappop(events)
        end = take(arrived)
        if kind == "block" and check:
            checks.append(rank)
            # An idle rank other than the owner takes the recount at once.
            for k, other in enumerate(idle):
                if other != rank:
                    hand_out(idle.pop(k), end)
                    break
        hand_out(rank, end)
    work = sum(costs)
    return end, work / (ranks * end), state["busy"] / end, blocks[0][1]


def duration(seconds):
    if seconds >= 3600:
        return f"{seconds / 3600:.2f} h"
    return f"{seconds / 60:.1f} min" if seconds >= 60 else f"{seconds:.0f} s"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--latency", type=float, default=50e-6, help="seconds a message takes")
    parser.add_argument("--handling", type=float, default=50e-6, help="rank 0's seconds per message")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    print(f"latency {args.latency * 1e6:.0f} us, rank 0 {args.handling * 1e6:.0f} us a message "
          f"after a probe every {POLL * 1e6:.0f} us; with the double check")
    print()
    print("| N | ranks x threads | block width | wall | efficiency | rank 0 busy |")
    print("|---|---|---|---|---|---|")
    for threads, wmax in ((1, 30), (32, 32)):
        for n_bits in (40, 44):
            for ranks in (4, 16, 64, 256, 1024):
                wall, eff, busy, width = simulate(n_bits, ranks, threads, wmax, args.latency, args.handling, True,
                                                  rng)
                print(f"| 2^{n_bits} | {ranks} x {threads} | 2^{math.log2(width):.0f} | {duration(wall)} "
                      f"| {eff:.3f} | {100 * busy:.1f} % |")
    print()
    print("Block widths for [1, 2^44] on 1024 ranks of 32 threads:")
    print()
    print("| block width | wall | efficiency | rank 0 busy |")
    print("|---|---|---|---|")
    for wmax in (26, 28, 30, 31):
        wall, eff, busy, width = simulate(44, 1024, 32, wmax, args.latency, args.handling, True, rng)
        print(f"| 2^{math.log2(width):.0f} | {duration(wall)} | {eff:.3f} | {100 * busy:.1f} % |")


if __name__ == "__main__":
    main()
