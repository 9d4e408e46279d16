#!/usr/bin/env bash
# Expansion speed, side by side with what a user would run instead. Builds the programs (or takes
# RLEG_BIN_DIR's), makes the corpus (synthetic sets: text pages rendered to 1 bit, long runs,
# sparse runs, noise; realistic sets from bench/make_corpus.sh: degraded scans of text pages,
# masks of photographs, halftones), compresses each set with rle-golomb-compress (k chosen) and
# with zstd -19, checks that both expanders give the set back byte for byte, then times, over
# interleaved rounds in a rotating order:
#   fast    rle-golomb-expand SET.rlg OUT                   (the programs timed)
#   simple  the same from the bit-at-a-time build           (in /dev/shm only: it is the same
#                                                            processor work wherever it writes)
#   zstd    zstd -q -d -f SET.zst -o OUT                    (of the zstd -19 file)
#   zstd3   zstd -q -d -f SET.3.zst -o OUT                  (of the zstd -3 file, as a user makes it)
#   write   the raw size of the set written in 1 MiB blocks (the limit: no decoding at all)
#   rlegolomb  rlegolomb -d -o OUT SET.rlg                  (the third program, sparse by default)
#   rlegolomb-dense  the same with --no-sparse              (every byte written, as ours does)
#   rlegolomb-T1, rlegolomb-T2  rlegolomb -d -T1 / -T2     (one thread, two; the plain rlegolomb
#                                                            uses all processors; left out when
#                                                            the program has no -T)
# each writing a regular file on disk and a file in /dev/shm, the output removed before each run.
# Prints medians, medians of the per-round ratios, every round's ratios for the goals, and the
# peak resident size of small and large expansions.
#
#   bench/run.sh [ROUNDS]        (default 7; the settings in bench/common.sh, RLEG_BIN_DIR etc.)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
source bench/common.sh

check_prerequisites
describe_machine
describe_outputs
build_programs
make_corpus

echo "== Streams (k chosen by the compressor; zstd -19 -T2), and the expansions checked byte for byte"
compress_sets
printf '%-10s %12s %4s %12s %12s\n' set raw k .rlg ".zst (-19)"
for set in "${sets[@]}"; do
  "$bin/rle-golomb-expand" "$corpus/$set.rlg" "$shm/check.out" >/dev/null
  cmp "$corpus/$set.raw" "$shm/check.out"
  if [ -n "$simple_bin" ]; then
    "$simple_bin/rle-golomb-expand" "$corpus/$set.rlg" "$shm/check.out" >/dev/null
    cmp "$corpus/$set.raw" "$shm/check.out"
  fi
  printf '%-10s %12d %4d %12d %12d\n' "$set" "$(raw_bytes "$set")" "${chosen[$set]}" \
    "$(stat -c %s "$corpus/$set.rlg")" "$(stat -c %s "$corpus/$set.zst")"
done
rm -f "$shm/check.out"

default_tools="fast zstd zstd3 write rlegolomb"
if [ "$(rlegolomb_threads)" = yes ]; then
  default_tools+=" rlegolomb-T1 rlegolomb-T2"
else
  echo "(rlegolomb takes no -T here: its runs at one and two threads are left out)"
fi
read -r -a tools <<<"${RLEG_EXPAND_TOOLS:-$default_tools}"
[ -z "$simple_bin" ] || tools+=(simple)
applies() {  # tool, destination
  [ "$1" != simple ] || [ "$2" = shm ]
}
run_tool() {  # tool, set, output folder
  local out=$3/timed.out
  case $1 in
    fast) measure "$out" "$bin/rle-golomb-expand" "$corpus/$2.rlg" "$out" ;;
    simple) measure "$out" "$simple_bin/rle-golomb-expand" "$corpus/$2.rlg" "$out" ;;
    zstd) measure "$out" zstd -q -d -f "$corpus/$2.zst" -o "$out" ;;
    zstd3) measure "$out" zstd -q -d -f "$corpus/$2.3.zst" -o "$out" ;;
    write) measure "$out" "$tool" write "$(raw_bytes "$2")" "$out" ;;
    rlegolomb) measure "$out" "$bin/rlegolomb" -d -o "$out" "$corpus/$2.rlg" ;;
    rlegolomb-dense) measure "$out" "$bin/rlegolomb" -d --no-sparse -o "$out" "$corpus/$2.rlg" ;;
    rlegolomb-T1) measure "$out" "$bin/rlegolomb" -d -T1 -o "$out" "$corpus/$2.rlg" ;;
    rlegolomb-T2) measure "$out" "$bin/rlegolomb" -d -T2 -o "$out" "$corpus/$2.rlg" ;;
  esac
}

time_and_summarize "$rounds" "$corpus/expand-times.txt" \
  "fast=ours,zstd=zstd -d (-19 file),zstd3=zstd -d (-3 file),write=1 MiB writes,simple=bit at a time,rlegolomb=rlegolomb -d,rlegolomb-dense=rlegolomb -d --no-sparse,rlegolomb-T1=rlegolomb -d -T1,rlegolomb-T2=rlegolomb -d -T2" \
  "zstd/fast,zstd3/fast,write/fast,simple/fast,rlegolomb/fast,rlegolomb-dense/fast,zstd3/rlegolomb,rlegolomb-T1/rlegolomb-T2" \
  "zstd3/fast,write/fast,zstd3/rlegolomb,rlegolomb-T1/rlegolomb-T2" "${tools[@]}"

echo
echo "== Peak resident size (GNU time -v), rle-golomb-expand, output to $shm"
"$bin/rle-golomb-compress" "$corpus/long1m.raw" "$corpus/long1m.rlg" >/dev/null
for set in long1m long scans; do
  [ -s "$corpus/$set.rlg" ] || continue
  rss=$(/usr/bin/time -v "$bin/rle-golomb-expand" "$corpus/$set.rlg" "$shm/rss.out" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident/ { print $2 }')
  printf '%-7s output %10d bytes  peak RSS %6d KiB\n' "$set" "$(stat -c %s "$shm/rss.out")" "$rss"
done
rm -f "$shm/rss.out"
