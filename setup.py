"""The compiled part of the rlegolomb package (see pyproject.toml): the module and the codec
library's own sources, compiled together as CMake compiles the library (C++20, -O2, hidden
symbols; the library picks its processor-specific loops at run time, so no -march)."""

import pathlib
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

ROOT = pathlib.Path(__file__).parent.resolve()
# The public header sits in include/ or, in older trees, in lib/ beside the sources.
INCLUDE_DIRS = [d for d in ("include", "lib") if (ROOT / d / "rlegolomb.h").exists()]
HEADER = ROOT / INCLUDE_DIRS[0] / "rlegolomb.h"


def library_version():
    text = HEADER.read_text()
    parts = [re.search(rf"^#define RLEGOLOMB_VERSION_{p} (\d+)", text, re.M).group(1)
             for p in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


# Every source of the library, whatever files it is made of.
SOURCES = [str(p.relative_to(ROOT)) for p in sorted((ROOT / "lib").glob("*.cpp"))]

extension = Pybind11Extension(
    "rlegolomb._rlegolomb",
    ["python/src/module.cpp", *SOURCES],
    include_dirs=list(dict.fromkeys(INCLUDE_DIRS + ["lib"])),
    # The library's functions stay inside the module: declared without export, compiled hidden.
    define_macros=[("RLEGOLOMB_STATIC_DEFINE", None)],
    # A change to any header of the library rebuilds it.
    depends=[str(p.relative_to(ROOT)) for d in {"include", "lib"} for p in sorted((ROOT / d).glob("*.h"))],
    cxx_std=20,
    extra_compile_args=["-O2"],
)

# The library's files compile at once on every core (RLEG_BUILD_JOBS=N to choose).
ParallelCompile("RLEG_BUILD_JOBS", default=0).install()

# setuptools' objects go to build-pip/, beside (not into) the CMake build folders.
setup(version=library_version(), ext_modules=[extension], options={"build": {"build_base": "build-pip"}})
