#!/usr/bin/env bash
# Compressor speed. Builds rle-golomb-compress twice in release mode (the block path, and the
# bit-at-a-time path forced with RLEG_FORCE_SIMPLE_PATH), makes a deterministic corpus, checks that
# both builds write the same streams and that they expand back, then times, interleaved over several
# rounds: both builds with k chosen automatically (two passes) and with that k given (one pass),
# `zstd -19` and `zstd -3`. Prints medians, per-round ratios, compressed sizes and peak memory.
#
# Usage: bench/compress.sh [ROUNDS]        (5 by default; needs cmake, g++, ghostscript, zstd)
# Work folder: build-bench-compress/ in the source tree, or $BENCH_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
work=${BENCH_DIR:-$PWD/build-bench-compress}
corpus=$work/corpus
out=$work/out
mkdir -p "$corpus" "$out"

echo "== Builds (release): block path and forced bit-at-a-time path"
cmake -S . -B "$work/fast" -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF \
  -DRLEG_BUILD_BENCH=ON >/dev/null
cmake --build "$work/fast" -j2 >/dev/null
cmake -S . -B "$work/simple" -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF \
  -DRLEG_FORCE_SIMPLE_PATH=ON >/dev/null
cmake --build "$work/simple" -j2 --target rle-golomb-compress >/dev/null
fast=$work/fast/rle-golomb-compress
simple=$work/simple/rle-golomb-compress
expand=$work/fast/rle-golomb-expand

echo "== Corpus"
if [ ! -f "$corpus/text.pbm" ]; then
  # Nine A4 pages of 10-point text, rendered at 300 dpi as 1-bit images (PBM), one after another.
  python3 - "$corpus/text.ps" <<'PY'
import random, sys
words = ("the of and to in is that for it as was with be by on not he this are or his from at "
         "which but have an they you were her she there been one all we their has would when if "
         "so no will more run length golomb rice code bit stream page scan image black white "
         "expander compressor quotient remainder parameter").split()
rng = random.Random(20261209)
with open(sys.argv[1], "w") as ps:
    ps.write("%!PS\n/Times-Roman findfont 10 scalefont setfont\n")
    for page in range(9):
        y = 800
        while y > 50:
            line = " ".join(rng.choice(words) for _ in range(16))
            ps.write("50 %d moveto (%s) show\n" % (y, line))
            y -= 12
        ps.write("showpage\n")
PY
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r300 -sPAPERSIZE=a4 \
    -o "$corpus/page-%02d.pbm" "$corpus/text.ps"
  cat "$corpus"/page-*.pbm >"$corpus/text.pbm"
  rm -f "$corpus"/page-*.pbm
fi
[ -f "$corpus/long.bin" ] || "$work/fast/bench/rleg-compress-corpus" long 134217728 "$corpus/long.bin"
[ -f "$corpus/noise.bin" ] || "$work/fast/bench/rleg-compress-corpus" noise 8388608 "$corpus/noise.bin"
[ -f "$corpus/sparse.bin" ] || "$work/fast/bench/rleg-compress-corpus" sparse 33554432 "$corpus/sparse.bin"
files=(text.pbm long.bin noise.bin sparse.bin)
ls -l "${files[@]/#/$corpus/}"

echo "== Checks: same streams from both builds, round trips, the chosen k"
declare -A chosen
for f in "${files[@]}"; do
  line=$("$fast" "$corpus/$f" "$out/$f.fast.rlg" | grep '^k = ')
  chosen[$f]=$(sed 's/^k = \([0-9]*\).*/\1/' <<<"$line")
  "$simple" "$corpus/$f" "$out/$f.simple.rlg" >/dev/null
  cmp "$out/$f.fast.rlg" "$out/$f.simple.rlg"
  "$expand" "$out/$f.fast.rlg" "$out/$f.back" >/dev/null
  cmp "$out/$f.back" "$corpus/$f"
  rm -f "$out/$f.back" "$out/$f.simple.rlg"
  echo "$f: $line"
done

# Runs one contender on one file, the output removed first (rewriting a file by truncation makes
# ext4 flush it at close), and prints the seconds taken.
timed() {
  local target=$1
  shift
  rm -f "$target"
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(((end - start) / 1000))e-6"
}

contenders=(fast-auto fast-k simple-auto simple-k zstd-19 zstd-3)
run() {  # contender file
  local c=$1 f=$2 in=$corpus/$2 k=${chosen[$2]}
  case $c in
    fast-auto) timed "$out/$f.rlg" "$fast" "$in" "$out/$f.rlg" ;;
    fast-k) timed "$out/$f.rlg" "$fast" "$in" "$out/$f.rlg" "$k" ;;
    simple-auto) timed "$out/$f.rlg" "$simple" "$in" "$out/$f.rlg" ;;
    simple-k) timed "$out/$f.rlg" "$simple" "$in" "$out/$f.rlg" "$k" ;;
    zstd-19) timed "$out/$f.19.zst" zstd -q -19 "$in" -o "$out/$f.19.zst" ;;
    zstd-3) timed "$out/$f.3.zst" zstd -q -3 "$in" -o "$out/$f.3.zst" ;;
  esac
}

echo "== Timing: $rounds rounds, contenders in a rotating order"
times=$work/times.tsv
: >"$times"
for round in $(seq 1 "$rounds"); do
  for f in "${files[@]}"; do
    for i in "${!contenders[@]}"; do
      c=${contenders[$(((i + round) % ${#contenders[@]}))]}
      printf '%s\t%s\t%s\t%s\n' "$round" "$f" "$c" "$(run "$c" "$f")" >>"$times"
    done
  done
  echo "round $round done"
done

sizes=$work/sizes.tsv
: >"$sizes"
for f in "${files[@]}"; do
  printf '%s\t%s\t%s\t%s\t%s\n' "$f" "$(stat -c %s "$corpus/$f")" "$(stat -c %s "$out/$f.rlg")" \
    "$(stat -c %s "$out/$f.19.zst")" "$(stat -c %s "$out/$f.3.zst")" >>"$sizes"
done

echo "== Peak resident memory of the block path, k chosen (KB)"
head -c 1048576 "$corpus/long.bin" >"$corpus/long-1m.bin"
for f in long-1m.bin long.bin; do
  rm -f "$out/mem.rlg"
  printf '%s: ' "$f"
  /usr/bin/time -f '%M' "$fast" "$corpus/$f" "$out/mem.rlg" 2>&1 >/dev/null
done

python3 - "$times" "$sizes" <<'PY'
import statistics, sys
from collections import defaultdict
times, sizes = sys.argv[1], sys.argv[2]
t = defaultdict(dict)
for line in open(times):
    r, f, c, s = line.split("\t")
    t[(f, c)][int(r)] = float(s)
files = list(dict.fromkeys(f for f, _ in t))
contenders = ["fast-auto", "fast-k", "simple-auto", "simple-k", "zstd-19", "zstd-3"]
size = {l.split("\t")[0]: [int(x) for x in l.split("\t")[1:]] for l in open(sizes)}
print("\nMedian seconds (input MB/s):")
print("| data | " + " | ".join(contenders) + " |")
print("|---" * (len(contenders) + 1) + "|")
for f in files:
    mb = size[f][0] / 1e6
    cells = []
    for c in contenders:
        m = statistics.median(t[(f, c)].values())
        cells.append("%.3f (%.0f)" % (m, mb / m))
    print("| %s | %s |" % (f, " | ".join(cells)))
def ratio(f, slow, quick):
    rounds = sorted(t[(f, quick)])
    per = [t[(f, slow)][r] / t[(f, quick)][r] for r in rounds]
    return statistics.median(per), per
print("\nRatios, median of the per-round ratios (per round in brackets):")
pairs = [("simple-auto", "fast-auto"), ("simple-k", "fast-k"), ("zstd-19", "fast-auto"),
         ("zstd-3", "fast-auto"), ("zstd-3", "fast-k")]
print("| data | " + " | ".join("%s / %s" % p for p in pairs) + " |")
print("|---" * (len(pairs) + 1) + "|")
for f in files:
    cells = []
    for slow, quick in pairs:
        m, per = ratio(f, slow, quick)
        cells.append("%.1fx [%s]" % (m, " ".join("%.1f" % x for x in per)))
    print("| %s | %s |" % (f, " | ".join(cells)))
print("\nCompressed sizes in bytes (share of the input):")
print("| data | input | rle-golomb (chosen k) | zstd -19 | zstd -3 |")
print("|---|---|---|---|---|")
for f in files:
    i, r, z19, z3 = size[f]
    print("| %s | %d | %d (%.2f%%) | %d (%.2f%%) | %d (%.2f%%) |"
          % (f, i, r, 100 * r / i, z19, 100 * z19 / i, z3, 100 * z3 / i))
PY
