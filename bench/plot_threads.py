#!/usr/bin/python3
"""The picture of the threads: for each set, the expander's speed at 1, 2, ... threads against
zstd -d and a plain write of the same bytes.

  plot_threads.py CORPUS_DIR OUT.png OUT.csv [LABEL]

Reads what bench/threads.sh leaves in CORPUS_DIR: expand-times.txt (bench/run.sh's rounds: "round
set destination tool wall cpu"), threads-lib.csv (rleg-threads-bench --csv) and SET.raw (for the
sizes). Two panels, MB/s of output (MB = 10^6 bytes) from median times:
  - the programs writing a regular file on disk: zstd -d of the zstd -3 file, rlegolomb -d at
    -T1 and -T2 (or at its default when it has no -T), rle-golomb-expand (every processor once
    it has threads) and the 1 MiB-block write of the same byte count (the limit);
  - the library, memory to memory: rlegolomb_expand_mt at each thread count, and the machine's
    ceiling for n threads (the one-thread call's speed times the ceiling speedup measured in the
    same rounds: n one-thread calls at once).
Writes the figures drawn to OUT.csv (set,panel,series,mb_per_s). Needs Debian's
python3-matplotlib; run with /usr/bin/python3.
"""
import csv
import os
import statistics
import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

PROGRAMS = [
    ("zstd3", "zstd -d (of zstd -3)", "#8c8c8c"),
    ("rlegolomb-T1", "rlegolomb -d -T1", "#9ecae1"),
    ("rlegolomb-T2", "rlegolomb -d -T2", "#3182bd"),
    ("rlegolomb", "rlegolomb -d (its default)", "#08519c"),
    ("fast", "rle-golomb-expand", "#e6550d"),
    ("write", "1 MiB-block write (the limit)", "#31a354"),
]
THREAD_COLOURS = ["#9ecae1", "#3182bd", "#08519c", "#08306b", "#041b3d"]


def program_speeds(corpus, sets):
    seconds = defaultdict(list)
    with open(os.path.join(corpus, "expand-times.txt")) as times:
        for line in times:
            _, name, dest, tool, wall, _ = line.split()
            if dest == "disk":
                seconds[(name, tool)].append(float(wall))
    speeds = {}
    for (name, tool), walls in seconds.items():
        if name in sets:
            speeds[(name, tool)] = sets[name] / 1e6 / statistics.median(walls)
    return speeds


def library_speeds(corpus):
    rows = list(csv.DictReader(open(os.path.join(corpus, "threads-lib.csv"))))
    rows = [r for r in rows if r["direction"] == "expand"]
    one = {r["set"]: float(r["raw_mb_per_s"]) for r in rows if r["measure"] == "one"}
    speeds = {}
    for r in rows:
        n = int(r["threads"])
        if r["measure"] == "mt":
            speeds[(r["set"], "mt", n)] = float(r["raw_mb_per_s"])
        elif r["measure"] == "ceiling":
            speeds[(r["set"], "ceiling", n)] = one[r["set"]] * float(r["speedup"])
    return speeds


def grouped_bars(axis, names, series):
    """series: [(label, colour, hatch, {set: MB/s})]; one group of bars per set."""
    width = 0.8 / max(1, len(series))
    for i, (label, colour, hatch, values) in enumerate(series):
        xs = [j + (i - (len(series) - 1) / 2) * width for j in range(len(names))]
        ys = [values.get(name, 0) for name in names]
        axis.bar(xs, ys, width, label=label, color=colour if not hatch else "white",
                 edgecolor=colour, hatch=hatch, linewidth=1 if hatch else 0)
    axis.set_xticks(range(len(names)))
    axis.set_xticklabels(names)
    axis.set_ylabel("MB/s of output")
    axis.grid(axis="y", color="#dddddd", linewidth=0.6)
    axis.set_axisbelow(True)
    axis.legend(fontsize=7.5, ncol=3, loc="upper left", frameon=False)


def main():
    corpus, out_png, out_csv = sys.argv[1:4]
    label = sys.argv[4] if len(sys.argv) > 4 else ""
    lib = library_speeds(corpus)
    names = []
    for key in lib:
        if key[0] not in names:
            names.append(key[0])
    sizes = {name: os.path.getsize(os.path.join(corpus, name + ".raw")) for name in names}
    programs = program_speeds(corpus, sizes)

    present = {tool for (_, tool) in programs}
    program_series = []
    for tool, text, colour in PROGRAMS:
        if tool not in present:
            continue
        if tool == "rlegolomb" and "rlegolomb-T2" in present:
            continue  # the same as -T2 on two processors, and drawn as -T1 / -T2 already
        program_series.append((text, colour, None,
                               {n: programs[(n, tool)] for n in names if (n, tool) in programs}))

    counts = sorted({key[2] for key in lib if key[1] == "mt"})
    library_series = []
    for i, n in enumerate(counts):
        library_series.append(("rlegolomb_expand_mt, %d thread%s" % (n, "" if n == 1 else "s"),
                               THREAD_COLOURS[min(i, len(THREAD_COLOURS) - 1)], None,
                               {s: v for (s, m, t), v in lib.items() if m == "mt" and t == n}))
    for n in counts[1:]:
        library_series.append(("ceiling for %d threads" % n, "#636363", "////",
                               {s: v for (s, m, t), v in lib.items() if m == "ceiling" and t == n}))

    figure, (top, bottom) = plt.subplots(2, 1, figsize=(8.5, 6.4), dpi=80)
    grouped_bars(top, names, program_series)
    top.set_title("The programs, output to a regular file on disk", fontsize=10)
    grouped_bars(bottom, names, library_series)
    bottom.set_title("The library, memory to memory", fontsize=10)
    for axis in (top, bottom):
        _, high = axis.get_ylim()
        axis.set_ylim(0, high * 1.25)  # room for the legend above the bars
    if label:
        figure.suptitle(label, fontsize=9)
    figure.tight_layout()
    figure.savefig(out_png, dpi=80)

    with open(out_csv, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["set", "panel", "series", "mb_per_s"])
        for panel, series in (("programs, disk", program_series),
                              ("library, memory", library_series)):
            for text, _, _, values in series:
                for name in names:
                    if name in values:
                        writer.writerow([name, panel, text, "%.1f" % values[name]])


if __name__ == "__main__":
    main()
