#!/bin/sh
# Installs the package as a user does from the source tree: pip, offline, with Debian's build tools,
# into a fresh virtual environment that sees the system's packages (numpy, numcodecs, zarr, dask);
# runs the Python tests against the installed copy (not the build tree); uninstalls it and checks
# that nothing is left.
#   sh python/tests/install_check.sh BUILD_DIR
# BUILD_DIR is a CMake build folder holding the programs, which the tests compare with.
set -eu
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "${1:?usage: install_check.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH
export PYTHONDONTWRITEBYTECODE=1 PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1

/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
python=$scratch/venv/bin/python
"$python" -m pip install --no-build-isolation --no-cache-dir --quiet "$source_dir"

cd "$scratch"
"$python" - "$scratch/venv/" <<'CHECK'
import sys
import rlegolomb
assert rlegolomb.__file__.startswith(sys.argv[1]), rlegolomb.__file__
print("rlegolomb", rlegolomb.__version__, "installed in", rlegolomb.__file__)
CHECK
RLEG_COMPRESS=$build_dir/rle-golomb-compress RLEG_EXPAND=$build_dir/rle-golomb-expand \
  RLEG_TOOL=$build_dir/rlegolomb RLEG_SOURCE_DIR=$source_dir "$python" -m pytest -q -p no:cacheprovider "$source_dir/python/tests"

"$python" -m pip uninstall --yes --quiet rlegolomb
if "$python" -c 'import rlegolomb' 2>/dev/null; then
  echo "rlegolomb is still importable after pip uninstall" >&2
  exit 1
fi
left=$(find "$scratch/venv" -iname '*rlegolomb*')
if [ -n "$left" ]; then
  echo "left behind by pip uninstall: $left" >&2
  exit 1
fi
echo "install check passed"
