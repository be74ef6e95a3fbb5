#!/usr/bin/env python3
"""The Python module: the histogram of an interval, its counts as a numpy
array, and every m of the richest value. Usage: census.py [L1 L2]"""
import sys

import numpy

import sigma_census

L1, L2 = (int(a) for a in sys.argv[1:3]) if len(sys.argv) == 3 else (1, 10**6)
histogram = sigma_census.histogram(L1, L2)
print("count\tvalues")
for n, values in sorted(histogram.items()):
    print(f"{n}\t{values}")
counts = sigma_census.counts(L1, min(L2, L1 + 10**5))
richest = L1 + int(numpy.argmax(counts))
print(f"# {richest} has {counts.max()} preimages: {sigma_census.preimages(richest)[:5]}...")
print(f"# share with no preimage: {histogram.get(0, 0) / (L2 - L1 + 1):.4f}")
