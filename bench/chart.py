#!/usr/bin/env python3
"""Draws the results of bench/peers.py as a chart: sandrig's ratio to each
peer per workload (peer time / sandrig time), one panel per interpreter,
on a log scale with the 1x line marked. Right of the line sandrig is
faster, left of it the peer is.

    python bench/chart.py RESULTS.json [RESULTS.json...] -o CHART.png

Every file is one run of `bench/peers.py --json`; every workload and peer
in it is drawn, in the order the file lists them.
"""

import argparse
import json
import math
import textwrap

import matplotlib

matplotlib.use("Agg")  # files only, no display
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import FuncFormatter  # noqa: E402

COLOURS = {"tmpfs": "#4c72b0", "pyfakefs": "#dd8452", "MemoryFS": "#55a868"}
SPARE_COLOURS = ["#c44e52", "#8172b3", "#937860"]


def peers_of(runs):
    """Every peer of any run, in the order of the run that has the most."""
    names = []
    for run in sorted(runs, key=lambda r: -max(len(row["peers"]) for row in r["rows"])):
        for row in run["rows"]:
            names += [p for p in row["peers"] if p not in names]
    return names


def colour_of(peer, peers):
    spare = [p for p in peers if p not in COLOURS]
    return COLOURS.get(peer) or SPARE_COLOURS[spare.index(peer) % len(SPARE_COLOURS)]


def ratio_text(ratio):
    if ratio >= 10:
        return f"{ratio:.0f}x"
    return f"{ratio:.1f}x" if ratio >= 1 else f"{ratio:.2f}x" if ratio >= 0.1 else f"{ratio:.1g}x"


def draw_panel(axes, run, peers):
    rows = run["rows"]
    band = 0.8 / len(peers)
    for index, peer in enumerate(peers):
        for position, row in enumerate(rows):
            result = row["peers"].get(peer)
            if result is None or result["ratio"] <= 0:
                continue  # this peer did not run this workload, or took no time
            y = position + (index - (len(peers) - 1) / 2) * band
            # Bars grow from the 1x line: right where sandrig is faster.
            axes.barh(y, result["ratio"] - 1, height=band, left=1, color=colour_of(peer, peers),
                      label=peer if position == 0 else None)
            faster = result["ratio"] >= 1
            axes.text(result["ratio"] * (1.08 if faster else 0.92), y, ratio_text(result["ratio"]),
                      va="center", ha="left" if faster else "right", fontsize=7)
    axes.axvline(1, color="black", linewidth=1.2)
    axes.set_xscale("log")
    axes.xaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}x"))
    axes.set_yticks(range(len(rows)))
    axes.set_yticklabels([textwrap.fill(f"{r['key']} {r['label']}", 36) for r in rows], fontsize=8)
    axes.set_ylim(len(rows) - 0.5, -0.5)  # first workload on top
    axes.set_title(f"{run['interpreter']}, {run['date']}, {run['repeats']} repeats", fontsize=10)
    axes.set_xlabel("peer time / sandrig time (log scale; right of 1x: sandrig faster)",
                    fontsize=8)
    axes.grid(axis="x", which="major", linewidth=0.4, alpha=0.5)


def x_limits(runs):
    ratios = [p["ratio"] for run in runs for row in run["rows"] for p in row["peers"].values()
              if p["ratio"] > 0]
    low = min(ratios + [1.0]) / 4  # room for the labels
    high = max(ratios + [1.0]) * 4  # room for the labels
    return 10 ** math.floor(math.log10(low)), high


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", nargs="+", help="JSON files written by bench/peers.py --json")
    parser.add_argument("-o", "--output", required=True, help="the PNG to write")
    args = parser.parse_args()
    runs = []
    for path in args.results:
        with open(path) as source:
            runs.append(json.load(source))
    peers = peers_of(runs)
    workloads = max(len(run["rows"]) for run in runs)
    figure, panels = plt.subplots(1, len(runs), figsize=(6.2 * len(runs) + 1.6, 0.62 * workloads + 1.8),
                                  sharex=True, squeeze=False)
    for axes, run in zip(panels[0], runs):
        draw_panel(axes, run, peers)
    panels[0][0].set_xlim(*x_limits(runs))
    legend = {}
    for axes in panels[0]:
        for handle, label in zip(*axes.get_legend_handles_labels()):
            legend.setdefault(label, handle)
    figure.legend(list(legend.values()), [f"vs {label}" for label in legend], loc="lower center",
                  ncol=len(legend), fontsize=8, frameon=False)
    figure.suptitle("sandrig against its peers", fontsize=12)
    figure.tight_layout(rect=(0, 0.05, 1, 1))
    figure.savefig(args.output, dpi=110)
    print(f"chart written to {args.output}")


if __name__ == "__main__":
    main()
