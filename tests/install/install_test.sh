#!/usr/bin/env bash
# Guards the installed library: installs the build into a scratch prefix, then builds the streaming
# example against it twice, through pkg-config and through CMake's find_package, and runs both on
# the bundled example stream, comparing with the expander program's output.
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

"$expand" "$source/examples/mandelbrot.rlg" "$work/expected.pbm" >/dev/null

# pkg-config, linked to the shared library.
export PKG_CONFIG_PATH=$libdir/pkgconfig
test "$(pkg-config --modversion rlegolomb)" = 0.2.0
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$work/by-pkg-config" "$source/examples/expand_stream.c" \
  $(pkg-config --cflags --libs rlegolomb) -Wl,-rpath,"$libdir"
"$work/by-pkg-config" <"$source/examples/mandelbrot.rlg" >"$work/pkg-config.pbm"
cmp "$work/expected.pbm" "$work/pkg-config.pbm"

# find_package, linked to the imported target.
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(rlegolomb 0.2 REQUIRED)
add_executable(expand_stream "$source/examples/expand_stream.c")
target_link_libraries(expand_stream PRIVATE rlegolomb::rlegolomb)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
"$work/consumer/build/expand_stream" <"$source/examples/mandelbrot.rlg" >"$work/cmake.pbm"
cmp "$work/expected.pbm" "$work/cmake.pbm"

# A stream that expands past the example's limit is refused with a clear message and status 1:
# k = 30, first value 1, then six codes of q = 1 and r = 2^30 - 1, each a run of 2^31 - 1 bits.
printf '\x1e%s\x80' "$(printf '\\xdf\\xff\\xff\\xff%.0s' 1 2 3 4 5 6)" >"$work/bomb.rlg"
if "$work/by-pkg-config" <"$work/bomb.rlg" >/dev/null 2>"$work/err.txt"; then
  echo "the limit was not enforced" >&2
  exit 1
fi
grep -qx "expand_stream: output limit exceeded" "$work/err.txt"

# The installed programs run without a library path.
"$prefix/bin/rle-golomb-expand" "$source/examples/mandelbrot.rlg" "$work/installed.pbm" >/dev/null
cmp "$work/expected.pbm" "$work/installed.pbm"
echo "install test passed"
