#!/usr/bin/env bash
# Guards docs/API.md against the public header: every function the header exports is named there,
# and every function the page calls is one the header declares.
#
#   api_docs_test.sh HEADER API_MD
set -euo pipefail
header=$1 doc=$2

exported=$(grep -o 'RLEGOLOMB_API [^(]*(' "$header" | grep -o 'rlegolomb_[a-z0-9_]*($' |
  tr -d '(' | sort -u)
[ -n "$exported" ] || { echo "no RLEGOLOMB_API function found in $header" >&2; exit 1; }
status=0
for name in $exported; do
  grep -qw "$name" "$doc" || { echo "$doc does not name $name" >&2; status=1; }
done
for name in $(grep -o 'rlegolomb_[a-z0-9_]*(' "$doc" | tr -d '(' | sort -u); do
  grep -qx "$name" <<<"$exported" || { echo "$doc calls $name, which $header does not declare" >&2; status=1; }
done
[ $status -eq 0 ] && echo "$(wc -l <<<"$exported") functions, all named in $doc"
exit $status
