#!/usr/bin/env bash
# Peak resident memory of the expander, for an expansion of 1 KiB and one of 1 GiB. The expansion
# streams, so the two must match within a small margin; the script fails when they do not.
#
# Then the threads: a stream of 1 GiB of sparse runs (about 70 MB, enough for every thread to have
# segments of its own; the 1 GiB above is eight codes, which no thread can share), expanded by
# rle-golomb-expand (every processor) and by rlegolomb -d -T1 and -T2. Each thread may take up to
# 8 MiB beyond the one-thread run (rle-golomb-expand: beyond its 1 KiB expansion); the script
# fails when a run takes more. Left out when the
# bench tool (which makes the runs) is missing; the -T runs when rlegolomb has no -T.
#
#   bench/memory.sh [BUILD_DIR]     (default: build; the programs are BUILD_DIR/rle-golomb-expand,
#                                    BUILD_DIR/rle-golomb-compress, BUILD_DIR/rlegolomb, the bench
#                                    tool BUILD_DIR/bench/rleg-bench-tool or $RLEG_BENCH_TOOL)
#
# Needs /usr/bin/time (Debian package "time"; `scripts/install-deps.sh --bench` installs it) and
# about 2 GiB of free space in the temp folder for the large outputs, which are removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
program="$build_dir/rle-golomb-expand"
bench_tool="${RLEG_BENCH_TOOL:-$build_dir/bench/rleg-bench-tool}"
margin_kb=1024  # the largest difference in peak resident memory taken as "the same"
runs=3

[ -x "$program" ] || { echo "no program at $program: build first"; exit 1; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time: scripts/install-deps.sh --bench installs it"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A stream assembled bit by bit, most significant first: put_bits VALUE COUNT appends the low
# COUNT bits of VALUE; write_stream FILE packs them, the last byte filled with zeros.
bits=""
put_bits() {
  local i
  for ((i = $2 - 1; i >= 0; i--)); do bits+=$((($1 >> i) & 1)); done
}
write_stream() {
  while ((${#bits} % 8 != 0)); do bits+=0; done
  local i
  : >"$1"
  for ((i = 0; i < ${#bits}; i += 8)); do
    printf "\\$(printf %03o "$((2#${bits:i:8}))")" >>"$1"
  done
  bits=""
}

# 1 KiB: k = 13 (m = 8192), first value 1, one run q = 1, r = 0: 8192 ones.
put_bits 13 8; put_bits 1 1; put_bits 2 2; put_bits 0 13
write_stream "$work/small.rlg"
# 1 GiB: k = 30 (m = 2^30), first value 1, eight runs q = 1, r = 0 of 2^30 bits each, alternating.
put_bits 30 8; put_bits 1 1
for _ in 1 2 3 4 5 6 7 8; do put_bits 2 2; put_bits 0 30; done
write_stream "$work/large.rlg"

# Prints the peak resident memory (KiB) of the largest of $runs runs and the last run's wall time,
# or a line saying why the output is wrong.
peak_kb() {  # input, expected size, the command before the input and output (default: $program)
  local input="$1" expected_size="$2" worst=0 peak size elapsed r
  shift 2
  local command=("$@")
  [ ${#command[@]} -gt 0 ] || command=("$program" "$input" "$work/out")
  for ((r = 0; r < runs; r++)); do
    /usr/bin/time -v -o "$work/time.txt" "${command[@]}" >/dev/null
    peak="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
    elapsed="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")"
    size="$(stat -c %s "$work/out")"
    rm -f "$work/out"
    if [ "$size" != "$expected_size" ]; then
      echo "$input expanded to $size bytes, not $expected_size"
      return 1
    fi
    if ((peak > worst)); then worst="$peak"; fi
  done
  echo "$worst $elapsed"
}

small="$(peak_kb "$work/small.rlg" 1024)" || { echo "$small"; exit 1; }
large="$(peak_kb "$work/large.rlg" 1073741824)" || { echo "$large"; exit 1; }
read -r small_kb small_time <<<"$small"
read -r large_kb large_time <<<"$large"
difference=$((large_kb - small_kb))
echo "| output | stream | peak resident memory (KiB, largest of $runs runs) | wall time (last run) |"
echo "|---|---|---|---|"
echo "| 1 KiB | $(stat -c %s "$work/small.rlg") bytes | $small_kb | $small_time |"
echo "| 1 GiB | $(stat -c %s "$work/large.rlg") bytes | $large_kb | $large_time |"
echo "Difference: $difference KiB (margin $margin_kb KiB)"
if ((difference > margin_kb || -difference > margin_kb)); then
  echo "FAIL: peak memory grows with the output"
  exit 1
fi

# The threads, on a stream long enough to share.
if [ ! -x "$bench_tool" ] || [ ! -x "$build_dir/rle-golomb-compress" ]; then
  echo "(no bench tool at $bench_tool: the threaded runs are left out)"
  exit 0
fi
"$bench_tool" runs sparse 1073741824 5 "$work/sparse.raw"
"$build_dir/rle-golomb-compress" "$work/sparse.raw" "$work/sparse.rlg" 6 >/dev/null
rm -f "$work/sparse.raw"
echo
echo "1 GiB of sparse runs, a stream of $(stat -c %s "$work/sparse.rlg") bytes (k = 6), $(nproc) processors available:"
rows=("rle-golomb-expand|all|$program $work/sparse.rlg $work/out")
if [ -x "$build_dir/rlegolomb" ] && "$build_dir/rlegolomb" -q -T1 -t "$work/sparse.rlg" 2>/dev/null; then
  for t in 1 2; do
    rows+=("rlegolomb -d -T$t|$t|$build_dir/rlegolomb -d -T$t -o $work/out $work/sparse.rlg")
  done
else
  echo "(rlegolomb takes no -T here: its runs at one and two threads are left out)"
fi
echo "| program | threads | peak resident memory (KiB, largest of $runs runs) | wall time (last run) |"
echo "|---|---|---|---|"
one_kb=""
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r name threads command <<<"$row"
  read -r -a words <<<"$command"
  result="$(peak_kb "$work/sparse.rlg" 1073741824 "${words[@]}")" || { echo "$result"; exit 1; }
  read -r kb elapsed <<<"$result"
  echo "| $name | $threads | $kb | $elapsed |"
  [ "$threads" != 1 ] || one_kb=$kb
  if [ "$threads" = all ] && ((kb - small_kb > $(nproc) * 8192 + margin_kb)); then
    echo "FAIL: $((kb - small_kb)) KiB beyond the 1 KiB expansion (bound: $(nproc) x 8 MiB)"
    failed=1
  fi
  if [ "$threads" = 2 ] && [ -n "$one_kb" ] && ((kb - one_kb > 2 * 8192 + margin_kb)); then
    echo "FAIL: two threads take $((kb - one_kb)) KiB beyond one (bound: 2 x 8 MiB)"
    failed=1
  fi
done
exit $failed
