#!/usr/bin/env bash
# Guards the installed library as its consumers use it: installs the build into a scratch prefix,
# then builds the streaming example (C only) four times, against the shared and against the static
# library, through pkg-config and through CMake's find_package in a C-only project, and runs each
# on the bundled example stream, comparing with the expander program's output. A build against the
# archive must not load librlegolomb.so; one against the shared library must.
#
#   install_test.sh BUILD_DIR SOURCE_DIR C_COMPILER "C_FLAGS" EXPAND_PROGRAM
set -euo pipefail
build=$1 source=$2 cc=$3 cflags=$4 expand=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name rlegolomb.pc -printf '%h\n' | head -1 | xargs dirname)
test -f "$prefix/include/rlegolomb.h"
test -e "$libdir/librlegolomb.so.0"
test -f "$libdir/librlegolomb.a"
# The public header alone is installed: none of the library's internal headers.
test "$(find "$prefix/include" -type f -printf '%f\n')" = rlegolomb.h

# The version, from the one place it is written (the header), everywhere it is shown.
version=$(sed -n 's/^#define RLEGOLOMB_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
  "$prefix/include/rlegolomb.h" | paste -sd.)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version in the header" >&2; exit 1; }
for page in rle-golomb-expand rle-golomb-compress rlegolomb; do
  grep -q "^\.TH .* \"rle-golomb $version\"" "$prefix/share/man/man1/$page.1" ||
    { echo "$page.1 does not show version $version" >&2; exit 1; }
done

"$expand" "$source/examples/mandelbrot.rlg" "$work/expected.pbm" >/dev/null

# Runs a built example on the example stream and compares; "shared" or "static" says whether it
# must load librlegolomb.so.
check_example() {  # program, shared|static
  local needed
  needed=$(readelf -d "$1" | grep -c 'NEEDED.*librlegolomb' || true)
  if [ "$2" = shared ] && [ "$needed" -eq 0 ]; then
    echo "$1 does not load librlegolomb.so" >&2
    exit 1
  elif [ "$2" = static ] && [ "$needed" -ne 0 ]; then
    echo "$1 loads librlegolomb.so, not the archive" >&2
    exit 1
  fi
  "$1" <"$source/examples/mandelbrot.rlg" >"$1.pbm"
  cmp "$work/expected.pbm" "$1.pbm"
}

# pkg-config: the shared library by default; with --static, Libs.private adds what the archive
# needs, and the linker takes the archive where it is asked for archives.
export PKG_CONFIG_PATH=$libdir/pkgconfig
test "$(pkg-config --modversion rlegolomb)" = "$version"
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$work/pkg-config-shared" "$source/examples/expand_stream.c" \
  $(pkg-config --cflags --libs rlegolomb) -Wl,-rpath,"$libdir"
check_example "$work/pkg-config-shared" shared
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$work/pkg-config-static" "$source/examples/expand_stream.c" \
  $(pkg-config --cflags rlegolomb) -Wl,-Bstatic $(pkg-config --static --libs rlegolomb) \
  -Wl,-Bdynamic
check_example "$work/pkg-config-static" static

# find_package in a project that enables C alone: both imported targets.
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(rlegolomb $version EXACT REQUIRED)
add_executable(cmake-shared "$source/examples/expand_stream.c")
target_link_libraries(cmake-shared PRIVATE rlegolomb::rlegolomb)
add_executable(cmake-static "$source/examples/expand_stream.c")
target_link_libraries(cmake-static PRIVATE rlegolomb::rlegolomb_static)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
check_example "$work/consumer/build/cmake-shared" shared
check_example "$work/consumer/build/cmake-static" static

# A stream that expands past the example's limit is refused with a clear message and status 1:
# k = 30, first value 1, then six codes of q = 1 and r = 2^30 - 1, each a run of 2^31 - 1 bits.
printf '\x1e%s\x80' "$(printf '\\xdf\\xff\\xff\\xff%.0s' 1 2 3 4 5 6)" >"$work/bomb.rlg"
for program in pkg-config-shared pkg-config-static; do
  if "$work/$program" <"$work/bomb.rlg" >/dev/null 2>"$work/err.txt"; then
    echo "$program: the limit was not enforced" >&2
    exit 1
  fi
  grep -qx "expand_stream: output limit exceeded" "$work/err.txt"
done

# The installed programs run without a library path.
"$prefix/bin/rle-golomb-expand" "$source/examples/mandelbrot.rlg" "$work/installed.pbm" >/dev/null
cmp "$work/expected.pbm" "$work/installed.pbm"
echo "install test passed"
