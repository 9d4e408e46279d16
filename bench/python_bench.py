#!/usr/bin/python3
"""The Python binding's overhead: rlegolomb.decompress against the C library's one-shot call on the
same bytes, in the same process.

    cmake -S . -B build-bench-py -DCMAKE_BUILD_TYPE=Release -DRLEGOLOMB_PYTHON=ON \\
        -DPython3_EXECUTABLE=/usr/bin/python3 -DRLEG_BUILD_TESTS=OFF
    cmake --build build-bench-py -j2 --target _rlegolomb rlegolomb
    /usr/bin/python3 bench/python_bench.py build-bench-py [ROUNDS]

Two sets, made here with numpy from a fixed seed (the distributions of bench_tool's `runs`):
sparse (zero runs geometric with mean 256 bits between one runs of mostly 1 bit, 32 MiB) and
noise (runs geometric with mean 3 bits, 8 MiB), each compressed with the chosen k.

Timed per call, each round running every variant once per set in a rotating order:
  C expand          malloc + rlegolomb_expand (size known beforehand) + free, through ctypes on
                    the shared library: the library alone
  C bits+expand     malloc + rlegolomb_expanded_bits + rlegolomb_expand + free: what the binding
                    does without a limit, in C
  py decompress     rlegolomb.decompress(stream) (its result freed inside the timing)
  py max_length     rlegolomb.decompress(stream, max_length=n): one decoding pass into room
                    that grows
Medians of the times, and the median of the per-round ratios to "C expand".
"""

import ctypes
import ctypes.util
import pathlib
import statistics
import sys
import time

import numpy as np

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
sys.path.insert(0, str(build / "python"))
import rlegolomb  # noqa: E402

lib = ctypes.CDLL(str(build / "librlegolomb.so"))
lib.rlegolomb_expand.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t,
                                 ctypes.POINTER(ctypes.c_size_t)]
lib.rlegolomb_expand.restype = ctypes.c_int
lib.rlegolomb_expanded_bits.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
lib.rlegolomb_expanded_bits.restype = ctypes.c_uint64
libc = ctypes.CDLL(ctypes.util.find_library("c"))
libc.malloc.argtypes = [ctypes.c_size_t]
libc.malloc.restype = ctypes.c_void_p
libc.free.argtypes = [ctypes.c_void_p]


def runs_bitmap(lengths, first=0):
    values = (np.arange(len(lengths)) + first) % 2
    bits = np.repeat(values.astype(np.uint8), lengths)
    return np.packbits(bits).tobytes()


def make_sets():
    rng = np.random.default_rng(2024)
    sparse_bytes, noise_bytes = 32 << 20, 8 << 20
    # sparse: alternate zero gaps (mean 256) and dots (1 + geometric, mostly 1 bit)
    count = sparse_bytes * 8 // 258 * 2 + 2048
    lengths = np.empty(count, dtype=np.int64)
    lengths[0::2] = rng.geometric(1 / 257, count // 2)
    lengths[1::2] = rng.geometric(0.8, count // 2)
    sparse = runs_bitmap(lengths)[:sparse_bytes]
    count = noise_bytes * 8 // 3 + 4096
    noise = runs_bitmap(rng.geometric(1 / 3, count))[:noise_bytes]
    return {"sparse": sparse, "noise": noise}


def c_expand(stream, n):
    size = ctypes.c_size_t()
    t = time.perf_counter()
    dst = libc.malloc(n)
    status = lib.rlegolomb_expand(stream, len(stream), dst, n, ctypes.byref(size))
    libc.free(dst)
    t = time.perf_counter() - t
    assert status == 0 and size.value == n
    return t


def c_bits_expand(stream, n):
    size = ctypes.c_size_t()
    t = time.perf_counter()
    bits = lib.rlegolomb_expanded_bits(stream, len(stream))
    dst = libc.malloc((bits + 7) // 8)
    status = lib.rlegolomb_expand(stream, len(stream), dst, (bits + 7) // 8, ctypes.byref(size))
    libc.free(dst)
    t = time.perf_counter() - t
    assert status == 0 and size.value == n
    return t


def py_decompress(stream, n):
    t = time.perf_counter()
    rlegolomb.decompress(stream)
    return time.perf_counter() - t


def py_max_length(stream, n):
    t = time.perf_counter()
    rlegolomb.decompress(stream, max_length=n)
    return time.perf_counter() - t


VARIANTS = {"C expand": c_expand, "C bits+expand": c_bits_expand, "py decompress": py_decompress,
            "py max_length": py_max_length}


def main():
    sets = make_sets()
    streams = {}
    for name, raw in sets.items():
        stream = rlegolomb.compress(raw)
        assert rlegolomb.decompress(stream) == raw
        streams[name] = (stream, len(raw))
        print(f"{name}: {len(raw):,} bytes raw, k = {stream[0]}, {len(stream):,} bytes of stream")
    times = {(s, v): [] for s in sets for v in VARIANTS}
    names = list(VARIANTS)
    for r in range(rounds + 1):
        for s, (stream, n) in streams.items():
            order = names[r % len(names):] + names[:r % len(names)]
            for v in order:
                t = VARIANTS[v](stream, n)
                if r > 0:  # round 0 warms up
                    times[s, v].append(t)
    print(f"\n{rounds} rounds; medians; ratio = median over rounds of time / 'C expand' time")
    print(f"| set | {' | '.join(names)} | " + " | ".join(f"{v} ratio" for v in names[1:]) + " |")
    print("|---|" + "---:|" * (2 * len(names) - 1))
    for s, (stream, n) in streams.items():
        cells = [f"{statistics.median(times[s, v]) * 1e3:.2f} ms ({n / statistics.median(times[s, v]) / 1e6:.0f} MB/s)"
                 for v in names]
        base = times[s, "C expand"]
        ratios = [f"{statistics.median(t / b for t, b in zip(times[s, v], base)):.3f}" for v in names[1:]]
        print(f"| {s} | " + " | ".join(cells + ratios) + " |")


if __name__ == "__main__":
    main()
