#!/usr/bin/python3
"""A 4096 x 4096 bool mask in a Zarr array of 1024 x 1024 chunks, stored with the RLE_Golomb codec
against Zarr's default compressor (Blosc) and zstd: stored size, write time and read time.

    cmake -S . -B build-bench-py -DCMAKE_BUILD_TYPE=Release -DRLEGOLOMB_PYTHON=ON \\
        -DPython3_EXECUTABLE=/usr/bin/python3 -DRLEG_BUILD_TESTS=OFF
    cmake --build build-bench-py -j2 --target _rlegolomb
    /usr/bin/python3 bench/zarr_bench.py build-bench-py [ROUNDS]

The mask is python/tests/masks.py's (ellipses, rectangles, rings, an organic region with a ragged
border, strokes and specks; no repeated tile), made from a fixed seed. Each variant writes the
whole array into an in-memory store (z[:] = mask) and reads it back (z[:]); the store is a dict,
so the times are the codec's and Zarr's, not a disk's. Each round runs every variant once, in a
rotating order; the table gives medians, and the median over rounds of each variant's time divided
by RLEGolomb's in the same round. Blosc runs with its default threads.
"""

import pathlib
import statistics
import sys
import time

import numpy as np

root = pathlib.Path(__file__).resolve().parents[1]
build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
sys.path.insert(0, str(build / "python"))
sys.path.insert(0, str(root / "python" / "tests"))

import numcodecs  # noqa: E402
import zarr  # noqa: E402
from masks import make_mask  # noqa: E402
from rlegolomb.numcodecs import RLEGolomb  # noqa: E402

SHAPE, CHUNKS = (4096, 4096), (1024, 1024)
PACK = [numcodecs.PackBits()]
VARIANTS = {
    "RLEGolomb + PackBits": (PACK, RLEGolomb()),
    "Blosc (Zarr's default)": (None, zarr.storage.default_compressor),
    "Blosc + PackBits": (PACK, zarr.storage.default_compressor),
    "Zstd": (None, numcodecs.Zstd()),
    "Zstd + PackBits": (PACK, numcodecs.Zstd()),
}
BASE = "RLEGolomb + PackBits"


def run(mask, filters, compressor):
    store = {}
    z = zarr.open(store, mode="w", shape=SHAPE, chunks=CHUNKS, dtype=bool, filters=filters,
                  compressor=compressor)
    t0 = time.perf_counter()
    z[:] = mask
    t1 = time.perf_counter()
    back = z[:]
    t2 = time.perf_counter()
    assert np.array_equal(back, mask)
    size = sum(len(v) for k, v in store.items() if not k.startswith("."))
    return size, t1 - t0, t2 - t1


def main():
    mask = make_mask(*SHAPE, seed=1)
    print(f"mask: {SHAPE[0]} x {SHAPE[1]}, {mask.mean():.1%} set, chunks {CHUNKS[0]} x {CHUNKS[1]}; "
          f"numcodecs {numcodecs.__version__}, zarr {zarr.__version__}, {zarr.storage.default_compressor}")
    names = list(VARIANTS)
    sizes, writes, reads = {}, {n: [] for n in names}, {n: [] for n in names}
    for r in range(rounds + 1):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            size, w, rd = run(mask, *VARIANTS[name])
            sizes[name] = size
            if r > 0:  # round 0 warms up
                writes[name].append(w)
                reads[name].append(rd)
    raw = mask.size // 8
    print(f"\n{rounds} rounds; medians; ratio = median over rounds of time / '{BASE}' time")
    print("| codec | stored bytes | of packed bits | write ms | write ratio | read ms | read ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name in names:
        w_ratio = statistics.median(a / b for a, b in zip(writes[name], writes[BASE]))
        r_ratio = statistics.median(a / b for a, b in zip(reads[name], reads[BASE]))
        print(f"| {name} | {sizes[name]:,} | {sizes[name] / raw:.2%} | "
              f"{statistics.median(writes[name]) * 1e3:.1f} | {w_ratio:.2f} | "
              f"{statistics.median(reads[name]) * 1e3:.1f} | {r_ratio:.2f} |")


if __name__ == "__main__":
    main()
