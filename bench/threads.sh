#!/usr/bin/env bash
# All the figures of the threads on one stream, and their picture, in one command (about 5 to 10
# minutes on a 2-vCPU machine):
#   1. rleg-threads-bench: the library memory to memory, rlegolomb_expand_mt and
#      rlegolomb_compress_mt (k given: the stream's own) at 1, 2, ... threads against the
#      one-thread calls and the machine's ceiling (the one-thread call n times at once);
#   2. bench/run.sh: the programs expanding to a file on disk and in /dev/shm, against zstd -d and
#      the plain 1 MiB-block write, rlegolomb -d at -T1 and -T2 among them;
#   3. bench/compress.sh: the programs compressing, against zstd -3 (k chosen) and zstd -1 (k
#      given), rlegolomb at -T1 and -T2 among them;
#   4. bench/memory.sh: peak resident size of 1 GiB expansions at one and two threads;
#   5. bench/plot_threads.py: bench/threads.png and the figures drawn, bench/threads.csv.
# Everything is interleaved in rounds; the tables give medians and medians of per-round ratios.
#
#   bench/threads.sh [ROUNDS]     (default 7 for the programs; the library runs 2 x ROUNDS + 1)
# Settings as in bench/common.sh; RLEG_SETS defaults here to the six sets of the threads' goals.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
export RLEG_SETS=${RLEG_SETS:-scans masks halftones pages noise sparse}
export RLEG_SIMPLE_BIN_DIR=${RLEG_SIMPLE_BIN_DIR:-none}
source bench/common.sh

check_prerequisites
describe_machine
describe_outputs
build_programs
make_corpus
compress_sets

echo
echo "== Library, memory to memory: $((2 * rounds + 1)) interleaved rounds"
streams=()
for set in "${sets[@]}"; do streams+=("$corpus/$set.rlg"); done
"$threads_bench" --csv "$corpus/threads-lib.csv" "$((2 * rounds + 1))" "${streams[@]}"

echo
echo "== Expansion by the programs (bench/run.sh $rounds)"
RLEG_BIN_DIR=$bin bench/run.sh "$rounds"
echo
echo "== Compression by the programs (bench/compress.sh $rounds)"
RLEG_BIN_DIR=$bin bench/compress.sh "$rounds"
echo
echo "== Peak resident size (bench/memory.sh)"
RLEG_BENCH_TOOL=$tool bench/memory.sh "$bin"

commit="$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo '+changes')"
cpu="$(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors"
/usr/bin/python3 bench/plot_threads.py "$corpus" bench/threads.png bench/threads.csv \
  "Expansion speed: $cpu; commit $commit; medians of $rounds rounds (library: $((2 * rounds + 1)))"
echo
echo "== The picture: bench/threads.png ($(stat -c %s bench/threads.png) bytes), its figures in bench/threads.csv"
