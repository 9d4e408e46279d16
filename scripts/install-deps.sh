#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing everything needs and this machine
# lacks: compilers, CMake, GoogleTest, valgrind, pkg-config, clang-format, the sanitizer and
# libFuzzer runtimes, and for the Python module pybind11, numpy, pytest and the Python ecosystem
# it serves (numcodecs, zarr, dask, distributed; setuptools, venv and pip to build and install
# the package) for Debian's /usr/bin/python3. Does nothing when all is there; needs root
# (apt-get) otherwise.
#
#   scripts/install-deps.sh           what the build, the tests and .ci/run need
#   scripts/install-deps.sh --bench   that, and what bench/ needs: Google Benchmark, zstd, GNU
#                                     time, ghostscript, and the tools and Debian packages whose
#                                     documents and pictures bench/make_corpus.sh turns into sets
set -euo pipefail

bench=0
case ${1:-} in
  "") ;;
  --bench) bench=1 ;;
  *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
esac

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v gcc >/dev/null || missing+=(gcc)
command -v clang++ >/dev/null || missing+=(clang)
command -v clang-format-14 >/dev/null || missing+=(clang-format-14)
command -v pkg-config >/dev/null || missing+=(pkgconf)
command -v valgrind >/dev/null || missing+=(valgrind)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -x /usr/bin/python3 ] || missing+=(python3)
[ -f /usr/include/pybind11/pybind11.h ] || missing+=(pybind11-dev)
python_has() {  # module: /usr/bin/python3 can import it
  [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import $1" 2>/dev/null
}
python_modules=(numpy:python3-numpy pytest:python3-pytest numcodecs:python3-numcodecs
  zarr:python3-zarr dask:python3-dask distributed:python3-distributed
  setuptools:python3-setuptools ensurepip:python3-venv pip:python3-pip)
for entry in "${python_modules[@]}"; do
  python_has "${entry%%:*}" || missing+=("${entry#*:}")
done
/usr/bin/python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null ||
  missing+=(python3-dev)

# The bench tools, then bench/make_corpus.sh's tools and the packages its images come from (bash
# and base-files give text too); these without what they only recommend, as the corpus was made.
corpus_missing=()
if [ $bench = 1 ]; then
  [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
  [ -x /usr/bin/time ] || missing+=(time)
  for package in ghostscript zstd groff python3-numpy python3-pil r-doc-pdf gnuplot-doc \
    ghostscript-doc mate-backgrounds plasma-workspace-wallpapers bash base-files; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      corpus_missing+=("$package")
  done
fi

updated=0
update_once() {
  if [ $updated = 0 ]; then
    apt-get update
    updated=1
  fi
}
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  update_once
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
if [ ${#corpus_missing[@]} -gt 0 ]; then
  echo "Installing: ${corpus_missing[*]}"
  update_once
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${corpus_missing[@]}"
fi
# The sanitizer and libFuzzer runtimes come in a package of their own, named after clang's version.
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  clang_major="$(clang++ -dumpversion | cut -d. -f1)"
  echo "Installing: libclang-rt-${clang_major}-dev"
  update_once
  DEBIAN_FRONTEND=noninteractive apt-get install -y "libclang-rt-${clang_major}-dev"
fi
