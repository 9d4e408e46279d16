#!/usr/bin/env bash
# Compression speed, side by side with what a user would run instead. Builds the programs (or takes
# RLEG_BIN_DIR's), makes the corpus of bench/run.sh (the same sets), checks that the block and the
# bit-at-a-time compressors write the same stream and that it expands back, then times, over
# interleaved rounds in a rotating order:
#   auto         rle-golomb-compress SET OUT      k chosen (two passes over the input)
#   k            rle-golomb-compress SET OUT K    with the k chosen above (one pass)
#   simple-auto, simple-k   the same from the bit-at-a-time build (in /dev/shm only: it is the
#                           same processor work wherever it writes)
#   zstd-3       zstd -q -3 SET -o OUT            (against auto)
#   zstd-1       zstd -q -1 SET -o OUT            (against k)
#   tool-auto, tool-k       rlegolomb [--k=K] -o OUT SET, the third program, against auto and k
#   tool-auto-T1, tool-k-T1, tool-auto-T2, tool-k-T2   the same with -T1 / -T2 (one thread, two;
#                           the plain rlegolomb uses all processors; left out when it has no -T)
# each writing a regular file on disk and a file in /dev/shm, the output removed before each run.
# zstd -19 is not timed (a minute and more per round on these sets); its size is shown. Prints
# medians, medians of the per-round ratios, every round's ratios for the goals, the compressed
# sizes and the peak resident size of small and large compressions.
#
#   bench/compress.sh [ROUNDS]   (default 5; the settings in bench/common.sh, RLEG_BIN_DIR etc.)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
source bench/common.sh

check_prerequisites
describe_machine
describe_outputs
build_programs
make_corpus

echo "== Streams: k chosen, the same from both builds, expanded back byte for byte"
compress_sets
sizes=$corpus/compress-sizes.txt
: >"$sizes"
printf '%-10s %12s %4s %12s %12s %12s %12s\n' set raw k .rlg "zstd -19" "zstd -3" "zstd -1"
for set in "${sets[@]}"; do
  if [ -n "$simple_bin" ]; then
    "$simple_bin/rle-golomb-compress" "$corpus/$set.raw" "$shm/check.rlg" >/dev/null
    cmp "$corpus/$set.rlg" "$shm/check.rlg"
    "$simple_bin/rle-golomb-compress" "$corpus/$set.raw" "$shm/check.rlg" "${chosen[$set]}" >/dev/null
    cmp "$corpus/$set.rlg" "$shm/check.rlg"
  fi
  "$bin/rle-golomb-compress" "$corpus/$set.raw" "$shm/check.rlg" "${chosen[$set]}" >/dev/null
  cmp "$corpus/$set.rlg" "$shm/check.rlg"
  "$bin/rle-golomb-expand" "$corpus/$set.rlg" "$shm/check.out" >/dev/null
  cmp "$corpus/$set.raw" "$shm/check.out"
  zstd -q -3 -f "$corpus/$set.raw" -o "$shm/check.3.zst"
  zstd -q -1 -f "$corpus/$set.raw" -o "$shm/check.1.zst"
  line=$(printf '%-10s %12d %4d %12d %12d %12d %12d' "$set" "$(raw_bytes "$set")" \
    "${chosen[$set]}" "$(stat -c %s "$corpus/$set.rlg")" "$(stat -c %s "$corpus/$set.zst")" \
    "$(stat -c %s "$shm/check.3.zst")" "$(stat -c %s "$shm/check.1.zst")")
  echo "$line"
  echo "$line" >>"$sizes"
done
rm -f "$shm"/check.*

default_tools="auto k zstd-3 zstd-1 tool-auto tool-k"
if [ "$(rlegolomb_threads)" = yes ]; then
  default_tools+=" tool-auto-T1 tool-k-T1 tool-auto-T2 tool-k-T2"
else
  echo "(rlegolomb takes no -T here: its runs at one and two threads are left out)"
fi
read -r -a tools <<<"${RLEG_COMPRESS_TOOLS:-$default_tools}"
[ -z "$simple_bin" ] || tools+=(simple-auto simple-k)
applies() {  # tool, destination
  case $1 in simple-*) [ "$2" = shm ] ;; esac
}
run_tool() {  # tool, set, output folder
  local out=$3/timed.out in=$corpus/$2.raw
  case $1 in
    auto) measure "$out" "$bin/rle-golomb-compress" "$in" "$out" ;;
    k) measure "$out" "$bin/rle-golomb-compress" "$in" "$out" "${chosen[$2]}" ;;
    simple-auto) measure "$out" "$simple_bin/rle-golomb-compress" "$in" "$out" ;;
    simple-k) measure "$out" "$simple_bin/rle-golomb-compress" "$in" "$out" "${chosen[$2]}" ;;
    zstd-3) measure "$out" zstd -q -3 "$in" -o "$out" ;;
    zstd-1) measure "$out" zstd -q -1 "$in" -o "$out" ;;
    # Status 2: the stream came out larger than the set (noise), written all the same.
    tool-auto) measure "$out" "$bin/rlegolomb" -q -o "$out" "$in" || [ $? -eq 2 ] ;;
    tool-k) measure "$out" "$bin/rlegolomb" -q "--k=${chosen[$2]}" -o "$out" "$in" || [ $? -eq 2 ] ;;
    tool-auto-T[0-9]*) measure "$out" "$bin/rlegolomb" -q "-${1#tool-auto-}" -o "$out" "$in" || [ $? -eq 2 ] ;;
    tool-k-T[0-9]*)
      measure "$out" "$bin/rlegolomb" -q "-${1#tool-k-}" "--k=${chosen[$2]}" -o "$out" "$in" || [ $? -eq 2 ] ;;
  esac
}

time_and_summarize "$rounds" "$corpus/compress-times.txt" \
  "auto=ours k chosen,k=ours k given,zstd-3=zstd -3,zstd-1=zstd -1,simple-auto=bit at a time k chosen,simple-k=bit at a time k given,tool-auto=rlegolomb k chosen,tool-k=rlegolomb k given,tool-auto-T1=rlegolomb -T1 k chosen,tool-k-T1=rlegolomb -T1 k given,tool-auto-T2=rlegolomb -T2 k chosen,tool-k-T2=rlegolomb -T2 k given" \
  "zstd-3/auto,zstd-1/k,simple-auto/auto,simple-k/k,tool-auto/auto,tool-k/k,tool-auto-T1/tool-auto-T2,tool-k-T1/tool-k-T2" \
  "zstd-3/auto,zstd-1/k,tool-auto/auto,tool-k/k,tool-k-T1/tool-k-T2" "${tools[@]}"

echo
echo "== Compressed sizes in bytes (share of the raw size)"
echo "| set | raw | k | rle-golomb | zstd -19 | zstd -3 | zstd -1 |"
echo "|---|---:|---:|---:|---:|---:|---:|"
awk '{ printf "| %s | %d | %d | %d (%.2f%%) | %d (%.2f%%) | %d (%.2f%%) | %d (%.2f%%) |\n", $1, $2,
         $3, $4, 100 * $4 / $2, $5, 100 * $5 / $2, $6, 100 * $6 / $2, $7, 100 * $7 / $2 }' "$sizes"

echo
echo "== Peak resident size (GNU time -f %M), rle-golomb-compress with k chosen, output to $shm"
for set in long1m long scans; do
  [ -s "$corpus/$set.raw" ] || continue
  rm -f "$shm/rss.rlg"
  rss=$(/usr/bin/time -f '%M' "$bin/rle-golomb-compress" "$corpus/$set.raw" "$shm/rss.rlg" 2>&1 >/dev/null)
  printf '%-7s input %10d bytes  peak RSS %6d KiB\n' "$set" "$(raw_bytes "$set")" "$rss"
done
rm -f "$shm/rss.rlg"
