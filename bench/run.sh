#!/usr/bin/env bash
# Expansion speed, side by side: builds a deterministic corpus (text pages rendered as 1-bit
# images, long runs, noise, sparse ones), compresses it with rle-golomb-compress and with zstd -19,
# then times over several interleaved rounds the block expander, the bit-at-a-time one (a second
# build with RLEG_FORCE_SIMPLE_PATH), zstd -d and a plain 1 MiB-block write of the same number of
# bytes. Prints per-round times, medians and ratios, then the peak resident size of 128 MB vs 1 MB
# expansions. Output goes to a memory-backed folder, so the page cache is the disk.
#
#   bench/run.sh [ROUNDS]            (default 7; BENCH_DIR overrides /dev/shm/rleg-bench)
#
# Needs: cmake, g++, Google Benchmark (libbenchmark-dev), ghostscript, zstd, GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
dir=${BENCH_DIR:-/dev/shm/rleg-bench}
mkdir -p "$dir"

missing=()
command -v gs >/dev/null || missing+=(ghostscript)
command -v zstd >/dev/null || missing+=(zstd)
[ -x /usr/bin/time ] || missing+=(time)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

echo "== Builds (Release): block path with the bench tools, and the forced bit-at-a-time path"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF -DRLEG_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j2 >/dev/null
cmake -S . -B build-bench-simple -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF \
  -DRLEG_FORCE_SIMPLE_PATH=ON >/dev/null
cmake --build build-bench-simple -j2 --target rle-golomb-expand >/dev/null
tool=build-bench/bench/rleg-bench-tool
fast=build-bench/rle-golomb-expand
simple=build-bench-simple/rle-golomb-expand
compress=build-bench/rle-golomb-compress

echo "== Corpus in $dir (kept between runs)"
make_raw() {  # name, command...
  local name=$1
  shift
  [ -s "$dir/$name.raw" ] || "$@"
}
if [ ! -s "$dir/pages.raw" ]; then
  "$tool" text 10 7 "$dir/pages.ps"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r300 -sPAPERSIZE=letter \
    -sOutputFile="$dir/page-%02d.pbm" "$dir/pages.ps"
  "$tool" pbm "$dir/pages.raw" "$dir"/page-*.pbm
  rm -f "$dir"/page-*.pbm
fi
make_raw long "$tool" runs long 134217728 1 "$dir/long.raw"
make_raw noise "$tool" runs noise 8388608 2 "$dir/noise.raw"
make_raw sparse "$tool" runs sparse 33554432 3 "$dir/sparse.raw"
make_raw long1m "$tool" runs long 1048576 4 "$dir/long1m.raw"
sets=(pages long sparse noise)
for name in "${sets[@]}" long1m; do
  if [ ! -s "$dir/$name.rlg" ]; then
    "$compress" "$dir/$name.raw" "$dir/$name.rlg" | grep "k ="
  fi
  [ -s "$dir/$name.zst" ] || zstd -q -19 -T2 -f "$dir/$name.raw" -o "$dir/$name.zst"
  "$fast" "$dir/$name.rlg" "$dir/check.out" >/dev/null
  cmp "$dir/$name.raw" "$dir/check.out"
  printf '%-7s raw %10d  rlg %10d  zst %10d  (block expansion checked byte for byte)\n' "$name" \
    "$(stat -c %s "$dir/$name.raw")" "$(stat -c %s "$dir/$name.rlg")" "$(stat -c %s "$dir/$name.zst")"
done
for name in "${sets[@]}"; do
  "$simple" "$dir/$name.rlg" "$dir/check.out" >/dev/null
  cmp "$dir/$name.raw" "$dir/check.out"
done
rm -f "$dir/check.out"
echo "(bit-at-a-time expansion checked byte for byte too)"

# "WALL CPU" seconds of one command, output file removed first so that no tool pays for a
# truncation. CPU is the command's own user + system time: on a shared, busy machine the wall
# time also holds the time the command waited for a processor.
out="$dir/timed.out"
measure() {
  rm -f "$out"
  "$tool" time "$@"
}

tools=(fast simple zstd write)
run_tool() {  # tool, set
  case $1 in
    fast) measure "$fast" "$dir/$2.rlg" "$out" ;;
    simple) measure "$simple" "$dir/$2.rlg" "$out" ;;
    zstd) measure zstd -q -d -f "$dir/$2.zst" -o "$out" ;;
    write) measure "$tool" write "$(stat -c %s "$dir/$2.raw")" "$out" ;;
  esac
}

echo "== $rounds interleaved rounds (wall/cpu seconds; the order of the tools rotates each round)"
uptime
times="$dir/times.txt"
: >"$times"
for ((round = 1; round <= rounds; round++)); do
  for name in "${sets[@]}"; do
    line="round $round $name"
    for ((i = 0; i < ${#tools[@]}; i++)); do
      t=${tools[$(((i + round) % ${#tools[@]}))]}
      read -r wall cpu < <(run_tool "$t" "$name")
      echo "$round $name $t $wall $cpu" >>"$times"
      line+="  $t $wall/$cpu"
    done
    echo "$line"
  done
done
rm -f "$out"

echo
summarize() {  # column (4 wall, 5 cpu), title
  echo
  echo "== Medians of $2 (MB/s = raw MB per second) and median per-round ratios"
  printf '%-7s %9s %9s %9s %9s | %12s %12s %12s\n' set fast simple "zstd -d" write \
    "fast/simple" "fast/zstd" "fast/write"
  for name in "${sets[@]}"; do
    awk -v set="$name" -v bytes="$(stat -c %s "$dir/$name.raw")" -v column="$1" '
      function median(list, n,   sorted, i, j, v) {
        for (i = 1; i <= n; i++) sorted[i] = list[i]
        for (i = 2; i <= n; i++) {
          v = sorted[i]
          for (j = i - 1; j >= 1 && sorted[j] > v; j--) sorted[j + 1] = sorted[j]
          sorted[j + 1] = v
        }
        return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
      }
      $2 == set { t[$3, $1] = $column; if ($1 > rounds) rounds = $1 }
      END {
        for (r = 1; r <= rounds; r++) {
          f[r] = t["fast", r]; s[r] = t["simple", r]; z[r] = t["zstd", r]; w[r] = t["write", r]
          rs[r] = s[r] / f[r]; rz[r] = z[r] / f[r]; rw[r] = w[r] / f[r]
        }
        mb = bytes / 1e6
        printf "%-7s %9.0f %9.0f %9.0f %9.0f | %11.1fx %11.2fx %11.2fx\n", set,
          mb / median(f, rounds), mb / median(s, rounds), mb / median(z, rounds),
          mb / median(w, rounds), median(rs, rounds), median(rz, rounds), median(rw, rounds)
      }' "$times"
  done
}
summarize 4 "wall-clock time"
summarize 5 "processor time (user + system)"
echo "(ratios: the other tool's time over the block expander's, per round; above 1: fast is faster)"

echo
echo "== Peak resident size (GNU time -v), block expander"
for name in long long1m; do
  rss=$(/usr/bin/time -v "$fast" "$dir/$name.rlg" "$dir/rss.out" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident/ { print $2 }')
  printf '%-7s output %10d bytes  peak RSS %6d KiB\n' "$name" "$(stat -c %s "$dir/rss.out")" "$rss"
done
rm -f "$dir/rss.out"
