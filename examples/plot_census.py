#!/usr/bin/env python3
"""Two pictures of the census, as PNG files:
- frontier.png: the share of values S <= 2^n that no sigma(m) reaches, for
  n up to 40: computed here with the module up to 2^MAX_HERE, and read from
  the histograms in bench/frontier/ (sigma_census_2_N.tsv) above;
- histogram.png: how many values of one census have each count n, on
  log-log axes.
Usage: plot_census.py FRONTIER_DIR OUT_DIR [census upper bound, default 10^7]"""
import glob
import os
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import sigma_census  # noqa: E402

MAX_HERE = 26


def frontier_points(folder):
    points = {}
    for n in range(1, MAX_HERE + 1):
        histogram = sigma_census.histogram(1, 2**n)
        points[n] = histogram.get(0, 0) / 2**n
    for path in glob.glob(os.path.join(folder, "sigma_census_2_*.tsv")):
        n = int(re.search(r"_2_(\d+)\.tsv$", path).group(1))
        with open(path) as tsv:
            rows = dict(line.split("\t") for line in tsv.read().splitlines()[1:])
        points[n] = int(rows["0"]) / 2**n
    return sorted(points.items())


def main():
    folder, out = sys.argv[1], sys.argv[2]
    top = int(sys.argv[3]) if len(sys.argv) > 3 else 10**7
    os.makedirs(out, exist_ok=True)

    points = frontier_points(folder)
    figure, axes = plt.subplots(figsize=(7, 4))
    axes.plot([n for n, _ in points], [share for _, share in points], "o-")
    axes.set_xlabel("n")
    axes.set_ylabel("share of S <= 2^n with no m, sigma(m) = S")
    axes.set_title("Values that no divisor sum reaches")
    axes.grid(True, alpha=0.3)
    figure.tight_layout()
    figure.savefig(os.path.join(out, "frontier.png"), dpi=100)

    histogram = sigma_census.histogram(1, top)
    counts = [n for n in sorted(histogram) if n > 0]
    figure, axes = plt.subplots(figsize=(7, 4))
    axes.loglog(counts, [histogram[n] for n in counts], ".")
    axes.set_xlabel("n, the number of m with sigma(m) = S")
    axes.set_ylabel("values S with that n")
    axes.set_title(f"The census of [1, {top}]")
    axes.grid(True, which="both", alpha=0.3)
    figure.tight_layout()
    figure.savefig(os.path.join(out, "histogram.png"), dpi=100)
    print(f"{len(points)} frontier points, {len(counts)} counts; pictures in {out}")


if __name__ == "__main__":
    main()
