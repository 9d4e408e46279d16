#!/usr/bin/env bash
# Guards docs/API.md against the code: every function the public header exports is named there,
# every function the page calls is one the header declares, and the page's copy of the streaming
# example is the example the install test builds.
#
#   api_docs_test.sh HEADER API_MD EXAMPLE_C
set -euo pipefail
header=$1 doc=$2 example=$3

exported=$(grep -o 'RLEGOLOMB_API [^(]*(' "$header" | grep -o 'rlegolomb_[a-z0-9_]*($' |
  tr -d '(' | sort -u)
[ -n "$exported" ] || { echo "no RLEGOLOMB_API function found in $header" >&2; exit 1; }
status=0
for name in $exported; do
  grep -qw "$name" "$doc" || { echo "$doc does not name $name" >&2; status=1; }
done
for name in $(grep -o 'rlegolomb_[a-z0-9_]*(' "$doc" | tr -d '(' | sort -u); do
  grep -qx "$name" <<<"$exported" ||
    { echo "$doc calls $name, which $header does not declare" >&2; status=1; }
done
# The first C block that opens with the example's first line, up to its closing fence.
first=$(head -1 "$example")
if ! diff <(awk -v first="$first" '
      copying && /^```$/ { exit }
      copying { print }
      prev == "```c" && $0 == first { copying = 1; print }
      { prev = $0 }' "$doc") "$example" >&2; then
  echo "the example in $doc differs from $example" >&2
  status=1
fi
[ $status -eq 0 ] && echo "$(wc -l <<<"$exported") functions, all named in $doc; the example matches"
exit $status
