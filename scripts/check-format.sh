#!/usr/bin/env bash
# Checks that every tracked C and C++ file is formatted as .clang-format says; lists the files
# that are not and ends with status 1. Run from anywhere inside the source tree; FIX=1 reformats
# them in place instead. Needs clang-format 14 (Debian: clang-format-14); CLANG_FORMAT names
# another binary.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
clang_format=${CLANG_FORMAT:-clang-format-14}
command -v "$clang_format" >/dev/null || { echo "no $clang_format on PATH" >&2; exit 2; }

mapfile -t files < <(git ls-files -- '*.c' '*.h' '*.cc' '*.cpp' '*.hpp')
[ ${#files[@]} -gt 0 ] || { echo "no C or C++ files tracked" >&2; exit 2; }
if [ "${FIX:-0}" = 1 ]; then
  "$clang_format" -i -- "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  "$clang_format" --dry-run -Werror -- "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says ($clang_format; FIX=1 $0 reformats them):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "${#files[@]} C and C++ files formatted as .clang-format says"
