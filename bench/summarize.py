#!/usr/bin/python3
"""Tables of the timings that bench/run.sh and bench/compress.sh record.

  summarize.py TIMES BYTES TOOLS PAIRS GOALS

TIMES: lines "round set destination tool wall cpu" (seconds). BYTES: "set=bytes ..." (the raw
size of each set, in the order of the tables). TOOLS: "name=label,..." (the columns). PAIRS:
"other/ours,..." (the ratios shown, the other tool's time over ours per round, then the median of
those: above 1, ours is faster). GOALS: the pairs whose per-round ratios are listed as well.
"""
import statistics
import sys
from collections import defaultdict

DESTINATIONS = [("disk", "a regular file on disk"), ("shm", "a file in /dev/shm (memory)")]


def main():
    times_file, bytes_arg, tools_arg, pairs_arg, goals_arg = sys.argv[1:6]
    sizes = dict((s.split("=")[0], int(s.split("=")[1])) for s in bytes_arg.split())
    tools = [tuple(t.split("=", 1)) for t in tools_arg.split(",")]
    label = dict(tools)
    pairs = [tuple(p.split("/")) for p in pairs_arg.split(",")]
    goals = [tuple(p.split("/")) for p in goals_arg.split(",")]
    seconds = defaultdict(dict)  # (set, destination, tool, column) -> {round: seconds}
    for line in open(times_file):
        r, name, dest, tool, wall, cpu = line.split()
        seconds[(name, dest, tool, "wall")][int(r)] = float(wall)
        seconds[(name, dest, tool, "cpu")][int(r)] = float(cpu)

    def ratios(name, dest, pair, column):
        other = seconds.get((name, dest, pair[0], column), {})
        ours = seconds.get((name, dest, pair[1], column), {})
        return [other[r] / ours[r] for r in sorted(ours) if r in other and ours[r] > 0]

    def pair_label(pair):
        return "%s / %s" % (label[pair[0]], label[pair[1]])

    for column, what in (("wall", "wall-clock time"), ("cpu", "processor time (user + system)")):
        for dest, where in DESTINATIONS:
            present = [t for t, _ in tools if any((n, dest, t, column) in seconds for n in sizes)]
            if not present:
                continue
            shown = [p for p in pairs if p[0] in present and p[1] in present]
            print("\n== Output to %s, %s: medians in MB/s of raw data (MB = 10^6 bytes), then "
                  "medians of the per-round ratios" % (where, what))
            print("| set | raw MB | " + " | ".join(label[t] for t in present) + " | "
                  + " | ".join(pair_label(p) for p in shown) + " |")
            print("|---|" + "---:|" * (1 + len(present) + len(shown)))
            for name, size in sizes.items():
                cells = []
                for tool in present:
                    runs = seconds.get((name, dest, tool, column), {})
                    median = statistics.median(runs.values()) if runs else 0
                    cells.append("%.0f" % (size / 1e6 / median) if median > 0 else "-")
                for pair in shown:
                    per = ratios(name, dest, pair, column)
                    cells.append("%.2fx" % statistics.median(per) if per else "-")
                print("| %s | %.1f | %s |" % (name, size / 1e6, " | ".join(cells)))

    print("\n== Per-round ratios of wall-clock time (the other tool's time over ours), round 1 "
          "first")
    print("| set | output | " + " | ".join(pair_label(p) for p in goals) + " |")
    print("|---|---|" + "---|" * len(goals))
    for name in sizes:
        for dest, _ in DESTINATIONS:
            cells = [" ".join("%.2f" % x for x in ratios(name, dest, p, "wall")) or "-"
                     for p in goals]
            print("| %s | %s | %s |" % (name, dest, " | ".join(cells)))
    print("\n(ratios above 1: ours is faster; MB/s from the median time of each tool)")


if __name__ == "__main__":
    main()
