# Shared by bench/run.sh (the expander) and bench/compress.sh (the compressor), sourced from the
# top of the source tree: the builds, the corpus, the two places the output goes, the timing of one
# run, and the interleaved rounds.
#
# Settings, from the environment:
#   RLEG_BIN_DIR         folder holding the rle-golomb-expand and rle-golomb-compress to time
#                        (default: build-bench/, a Release build made here)
#   RLEG_SIMPLE_BIN_DIR  the same for the bit-at-a-time path (default: build-bench-simple/, built
#                        here with RLEG_FORCE_SIMPLE_PATH=ON); "none" leaves that path out
#   RLEG_CORPUS_DIR      where the corpus is made and kept between runs (default:
#                        build-bench-corpus/)
#   RLEG_DISK_DIR        output folder on a disk; refused when it is memory-backed (default:
#                        build-bench-out/)
#   RLEG_SHM_DIR         output folder in memory (default: /dev/shm/rleg-bench)
#   RLEG_SETS            the sets to time, separated by spaces (default: all of them)
#
# Needs cmake, g++, Google Benchmark (libbenchmark-dev, for the bench tools' build), ghostscript,
# zstd and GNU time, and for the realistic sets what bench/make_corpus.sh names: all of it is what
# `scripts/install-deps.sh --bench` installs (as root). The scripts install nothing themselves.

all_sets=(pages long sparse noise scans masks halftones)
synthetic_sets=" pages long sparse noise long1m "
corpus=${RLEG_CORPUS_DIR:-$PWD/build-bench-corpus}
disk=${RLEG_DISK_DIR:-$PWD/build-bench-out}
shm=${RLEG_SHM_DIR:-/dev/shm/rleg-bench}
read -r -a sets <<<"${RLEG_SETS:-${all_sets[*]}}"
mkdir -p "$corpus" "$disk" "$shm"

# Stops with the list of what is missing, and the command that installs it.
check_prerequisites() {
  local missing=()
  command -v gs >/dev/null || missing+=(ghostscript)
  command -v zstd >/dev/null || missing+=(zstd)
  [ -x /usr/bin/time ] || missing+=(time)
  [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Missing: ${missing[*]}; install them with: scripts/install-deps.sh --bench" >&2
    exit 1
  fi
}

# The machine, the tools and the output folders, at the top of every report.
describe_machine() {
  echo "== Machine"
  echo "CPU: $(lscpu | sed -n 's/^Model name: *//p') ($(nproc) processors online;" \
    "$(lscpu | awk -F': *' '/^CPU family|^Model:|^Stepping|^L2 cache|^L3 cache/ { printf "%s%s %s", sep, $1, $2; sep = ", " }'))"
  echo "Memory: $(free -g | awk '/^Mem:/ { print $2 }') GiB; kernel $(uname -r)"
  echo "Load: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 minutes)"
  echo "Compiler: $(g++ --version | head -1)"
  echo "zstd: $(zstd --version | sed 's/^\*\** *//; s/ *\**$//')"
  echo "Commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo ', with changes')"
}

# Refuses a disk folder that is memory-backed: its figures would only repeat those of /dev/shm.
describe_outputs() {
  local kind
  kind=$(stat -f -c %T "$disk")
  case $kind in
    tmpfs | ramfs) echo "RLEG_DISK_DIR=$disk is on $kind, not on a disk" >&2; exit 1 ;;
  esac
  echo "Output to disk: $disk ($(findmnt -n -f -o FSTYPE,SOURCE -T "$disk" | tr -s ' '))"
  echo "Output to memory: $shm ($(findmnt -n -f -o FSTYPE,SOURCE -T "$shm" | tr -s ' '))"
  [ "$(stat -f -c %T "$shm")" = tmpfs ] || echo "(note: $shm is not tmpfs)"
}

# Builds what is not given: the programs (Release, block path), the bench tool, the bit-at-a-time
# programs. Sets bin, simple_bin ("" when left out) and tool.
build_programs() {
  echo "== Builds"
  local targets=(rleg-bench-tool rleg-threads-bench)
  [ -n "${RLEG_BIN_DIR:-}" ] || targets+=(rle-golomb-expand rle-golomb-compress rlegolomb_tool)
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF \
    -DRLEG_BUILD_BENCH=ON >/dev/null
  cmake --build build-bench -j2 --target "${targets[@]}" >/dev/null
  tool=$PWD/build-bench/bench/rleg-bench-tool
  threads_bench=$PWD/build-bench/bench/rleg-threads-bench
  bin=${RLEG_BIN_DIR:-$PWD/build-bench}
  simple_bin=${RLEG_SIMPLE_BIN_DIR:-}
  if [ -z "$simple_bin" ]; then
    cmake -S . -B build-bench-simple -DCMAKE_BUILD_TYPE=Release -DRLEG_BUILD_TESTS=OFF \
      -DRLEG_FORCE_SIMPLE_PATH=ON >/dev/null
    cmake --build build-bench-simple -j2 --target rle-golomb-expand rle-golomb-compress >/dev/null
    simple_bin=$PWD/build-bench-simple
  elif [ "$simple_bin" = none ]; then
    simple_bin=""
  fi
  local program
  for program in "$bin/rle-golomb-expand" "$bin/rle-golomb-compress" \
    ${simple_bin:+"$simple_bin/rle-golomb-expand" "$simple_bin/rle-golomb-compress"}; do
    [ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
  done
  echo "Programs timed: $bin/"
  echo "Bit-at-a-time programs: ${simple_bin:-left out (RLEG_SIMPLE_BIN_DIR=none)}"
}

# The corpus in $corpus, kept between runs: SET.raw for each set, long1m.raw for the memory check.
make_corpus() {
  echo "== Corpus in $corpus (kept between runs)"
  if [ ! -s "$corpus/pages.raw" ]; then
    "$tool" text 10 7 "$corpus/pages.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r300 -sPAPERSIZE=letter \
      -sOutputFile="$corpus/page-%02d.pbm" "$corpus/pages.ps"
    "$tool" pbm "$corpus/pages.raw" "$corpus"/page-*.pbm
    rm -f "$corpus"/page-*.pbm "$corpus/pages.ps"
  fi
  [ -s "$corpus/long.raw" ] || "$tool" runs long 134217728 1 "$corpus/long.raw"
  [ -s "$corpus/noise.raw" ] || "$tool" runs noise 8388608 2 "$corpus/noise.raw"
  [ -s "$corpus/sparse.raw" ] || "$tool" runs sparse 33554432 3 "$corpus/sparse.raw"
  [ -s "$corpus/long1m.raw" ] || "$tool" runs long 1048576 4 "$corpus/long1m.raw"
  local set realistic=()
  for set in "${sets[@]}"; do
    case $synthetic_sets in
      *" $set "*) ;;
      *) [ -s "$corpus/$set.raw" ] || realistic+=("$set") ;;
    esac
  done
  if [ ${#realistic[@]} -gt 0 ]; then
    bench/make_corpus.sh "$corpus" "${realistic[@]}" || [ $? -eq 3 ]
  fi
  for set in "${sets[@]}"; do
    [ -s "$corpus/$set.raw" ] || { echo "no set $set in $corpus" >&2; exit 1; }
  done
}

# Whether the rlegolomb program takes a thread count (-T N): "yes" or "no". Checked on a stream of
# the corpus, so that the scripts measure both the programs before and after threads came.
rlegolomb_threads() {
  if "$bin/rlegolomb" -q -T1 -t "$corpus/${sets[0]}.rlg" >/dev/null 2>&1; then
    echo yes
  else
    echo no
  fi
}

raw_bytes() {
  stat -c %s "$corpus/$1.raw"
}

# Compresses every set with the timed compressor, k chosen, into SET.rlg, and records the k in
# chosen[SET]; writes SET.zst (zstd -19) and SET.3.zst (zstd -3, the level a user leaves as it
# is) once.
declare -A chosen
compress_sets() {
  local set line
  for set in "${sets[@]}"; do
    line=$("$bin/rle-golomb-compress" "$corpus/$set.raw" "$corpus/$set.rlg" | grep '^k = ')
    chosen[$set]=$(sed 's/^k = \([0-9]*\).*/\1/' <<<"$line")
    [ -s "$corpus/$set.zst" ] || zstd -q -19 -T2 -f "$corpus/$set.raw" -o "$corpus/$set.zst"
    [ -s "$corpus/$set.3.zst" ] || zstd -q -3 -f "$corpus/$set.raw" -o "$corpus/$set.3.zst"
  done
}

# "WALL CPU" seconds of one command, its output file removed first so that no tool pays for
# truncating an old one (ext4 flushes a file rewritten by truncation at its close). CPU is the
# command's own user + system time.
measure() {  # output file, command...
  rm -f "$1"
  shift
  "$tool" time "$@"
}

# Interleaved rounds. For each set, every (tool, destination) pair the caller's applies() accepts
# runs once per round, in an order that rotates by one place from round to round; run_tool TOOL SET
# DIR runs one and prints "WALL CPU". Appends "round set destination tool wall cpu" to the file.
run_rounds() {  # rounds, times file, tools...
  local rounds=$1 times=$2 round set i pair tool_name dest dir result wall cpu line
  shift 2
  local pairs=()
  for tool_name in "$@"; do
    for dest in disk shm; do
      pairs+=("$tool_name:$dest")
    done
  done
  : >"$times"
  for ((round = 1; round <= rounds; round++)); do
    for set in "${sets[@]}"; do
      line="round $round $set:"
      for ((i = 0; i < ${#pairs[@]}; i++)); do
        pair=${pairs[$(((i + round) % ${#pairs[@]}))]}
        tool_name=${pair%:*}
        dest=${pair#*:}
        applies "$tool_name" "$dest" || continue
        if [ "$dest" = disk ]; then dir=$disk; else dir=$shm; fi
        result=$(run_tool "$tool_name" "$set" "$dir")  # a failed run ends the script
        read -r wall cpu <<<"$result"
        echo "$round $set $dest $tool_name $wall $cpu" >>"$times"
        line+=" $tool_name@$dest $wall"
      done
      echo "$line"
    done
  done
}

# The rounds and their summary, as both scripts print them: run_rounds over `tools` into TIMES,
# then bench/summarize.py's tables with the tools' LABELS, the RATIOS to show and the GOALS whose
# per-round figures to list.
#   time_and_summarize ROUNDS TIMES LABELS RATIOS GOALS TOOL...
time_and_summarize() {
  local rounds=$1 times=$2 labels=$3 ratios=$4 goals=$5 bytes="" set
  shift 5
  echo "== $rounds interleaved rounds (wall-clock seconds of each run)"
  run_rounds "$rounds" "$times" "$@"
  rm -f "$disk/timed.out" "$shm/timed.out"
  for set in "${sets[@]}"; do bytes+="$set=$(raw_bytes "$set") "; done
  /usr/bin/python3 bench/summarize.py "$times" "$bytes" "$labels" "$ratios" "$goals"
  echo "(timings in $times)"
}
