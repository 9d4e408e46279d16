#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing everything needs and this machine
# lacks: compilers, CMake, GoogleTest, valgrind, pkg-config, the sanitizer and libFuzzer runtimes,
# and for the Python module pybind11, numpy and pytest for Debian's /usr/bin/python3. Does nothing
# when all is there; needs root (apt-get) otherwise.
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v gcc >/dev/null || missing+=(gcc)
command -v clang++ >/dev/null || missing+=(clang)
command -v pkg-config >/dev/null || missing+=(pkgconf)
command -v valgrind >/dev/null || missing+=(valgrind)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -x /usr/bin/python3 ] || missing+=(python3)
[ -f /usr/include/pybind11/pybind11.h ] || missing+=(pybind11-dev)
/usr/bin/python3 -c 'import numpy' 2>/dev/null || missing+=(python3-numpy)
/usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
/usr/bin/python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null ||
  missing+=(python3-dev)

update_once() {
  if [ -z "${updated:-}" ]; then
    apt-get update
    updated=1
  fi
}
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  update_once
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
# The sanitizer and libFuzzer runtimes come in a package of their own, named after clang's version.
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  clang_major="$(clang++ -dumpversion | cut -d. -f1)"
  echo "Installing: libclang-rt-${clang_major}-dev"
  update_once
  DEBIAN_FRONTEND=noninteractive apt-get install -y "libclang-rt-${clang_major}-dev"
fi
