#!/usr/bin/env bash
# Makes the realistic sets of the benchmark corpus (scans, masks, halftones) from documents and
# pictures that Debian packages ship, then checks the sets against the checksums recorded in
# bench/corpus.sha256 (exit status 3 when they differ, as other versions of the packages may make
# them). bench/CORPUS.md says what each set holds and where every image comes from. The packages
# and the tools are a prerequisite: `scripts/install-deps.sh --bench` installs them (as root);
# this script installs nothing and stops when one is missing.
#
#   bench/make_corpus.sh [OUT_DIR [SET...]]   (default build-bench-corpus/ in the source tree,
#                                               all three sets)
#
# Takes about two and a half minutes on one core; writes about 85 MB of sets and as much of PBM
# files beside them (OUT_DIR/images/) to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-$PWD/build-bench-corpus}
shift || true

# The tools, then the packages the images come from (bash, zstd and base-files give text too).
packages=(ghostscript groff python3-numpy python3-pil r-doc-pdf gnuplot-doc ghostscript-doc
  mate-backgrounds plasma-workspace-wallpapers bash zstd base-files)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Missing packages: ${missing[*]}; install them with: scripts/install-deps.sh --bench" >&2
  exit 1
fi
echo "Source packages:"
dpkg-query -W -f='  ${Package} ${Version}\n' "${packages[@]}"

# Debian's own Python, where numpy and Pillow were installed (another python3 may come first on
# the PATH).
/usr/bin/python3 bench/make_corpus.py "$out" "$@"

echo "Checksums:"
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(scans masks halftones)
status=0
for set in "${sets[@]}"; do
  sum=$(sha256sum "$out/$set.raw" | cut -d' ' -f1)
  recorded=$(awk -v name="$set.raw" '$2 == name { print $1 }' bench/corpus.sha256 2>/dev/null || true)
  if [ "$sum" = "$recorded" ]; then
    echo "  $set.raw $sum (as recorded)"
  else
    echo "  $set.raw $sum DIFFERS from bench/corpus.sha256 (${recorded:-none recorded}):" \
      "other package versions?"
    status=3
  fi
done
exit $status  # 3: made, but not the recorded bytes
