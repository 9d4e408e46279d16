#!/usr/bin/env bash
# Two builds of the library side by side: their rleg-lib-bench over the same streams, in
# interleaved rounds (the order swapping from round to round), and per stream the median of the
# per-round ratios of ns per code (B over A: below 1, B is faster).
#
#   bench/compare_lib.sh A_BENCH B_BENCH ROUNDS FILE.rlg...
#     A_BENCH, B_BENCH   two rleg-lib-bench programs (built with -DRLEG_BUILD_BENCH=ON)
set -euo pipefail
a=$1 b=$2 rounds=$3
shift 3
times=$(mktemp)
trap 'rm -f "$times"' EXIT
for ((round = 1; round <= rounds; round++)); do
  order=(a b)
  [ $((round % 2)) -eq 0 ] && order=(b a)
  for which in "${order[@]}"; do
    program=$a
    [ "$which" = b ] && program=$b
    "$program" 3 "$@" | awk -v r="$round" -v w="$which" 'NR > 1 { print r, w, $1, $5 }' >>"$times"
  done
done
/usr/bin/python3 - "$times" <<'PY'
import collections, statistics, sys
ns = collections.defaultdict(dict)
for line in open(sys.argv[1]):
    r, which, name, value = line.split()
    ns[(name, r)][which] = float(value)
names = sorted({name for name, _ in ns}, key=lambda n: list(k[0] for k in ns).index(n))
print(f"{'stream':28} {'A ns/code':>10} {'B ns/code':>10} {'B/A':>6}")
for name in names:
    rounds = [v for (n, _), v in ns.items() if n == name]
    a = statistics.median(v['a'] for v in rounds)
    b = statistics.median(v['b'] for v in rounds)
    ratio = statistics.median(v['b'] / v['a'] for v in rounds)
    print(f"{name:28} {a:10.2f} {b:10.2f} {ratio:6.2f}")
PY
