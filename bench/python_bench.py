#!/usr/bin/python3
"""The Python binding's overhead: rlegolomb.decompress against the C library's one-shot call on the
same bytes, in the same process.

    cmake -S . -B build-bench-py -DCMAKE_BUILD_TYPE=Release -DRLEGOLOMB_PYTHON=ON \\
        -DPython3_EXECUTABLE=/usr/bin/python3 -DRLEG_BUILD_TESTS=OFF
    cmake --build build-bench-py -j2 --target _rlegolomb rlegolomb
    /usr/bin/python3 bench/python_bench.py build-bench-py [ROUNDS] [--before=DIR] [--small-only]

Two sets, made here with numpy from a fixed seed (the distributions of bench_tool's `runs`):
sparse (zero runs geometric with mean 256 bits between one runs of mostly 1 bit, 32 MiB) and
noise (runs geometric with mean 3 bits, 8 MiB), each compressed with the chosen k.

Timed per call, each round running every variant once per set in a rotating order:
  C expand          malloc + rlegolomb_expand (size known beforehand) + free, through ctypes on
                    the shared library: the library alone
  C bits+expand     malloc + rlegolomb_expanded_bits + rlegolomb_expand + free: what the binding
                    does without a limit, in C
  py decompress     rlegolomb.decompress(stream) (its result freed inside the timing)
  py max_output     rlegolomb.decompress(stream, max_output=n): one decoding pass into room
                    that grows, capped at n + 1 bytes
Medians of the times, and the median of the per-round ratios to "C expand".

Then the small case that per-call costs decide: a 64 x 64 mask (a disc, 512 bytes packed) against
zlib on the same bytes, each timing the mean of 2000 calls, every variant once per round in a
rotating order; medians, and the medians of the per-round ratios to zlib's call:
  decompress        rlegolomb.decompress(stream)     against zlib.decompress(zlib stream)
  compress          rlegolomb.compress(raw), k chosen against zlib.compress(raw) (level 6)
  compress k        rlegolomb.compress(raw, k)
--before=DIR adds the same calls of another build of the compiled module (DIR holds a
_rlegolomb*.so), for a before-and-after in one run, and its decompress to the first table.
"""

import ctypes
import ctypes.util
import pathlib
import statistics
import sys
import time

import numpy as np

options = [a for a in sys.argv[1:] if a.startswith("--")]
arguments = [a for a in sys.argv[1:] if not a.startswith("--")]
build = pathlib.Path(arguments[0] if arguments else "build")
rounds = int(arguments[1]) if len(arguments) > 1 else 7
before_dir = next((a.split("=", 1)[1] for a in options if a.startswith("--before=")), None)
sys.path.insert(0, str(build / "python"))
import importlib.util  # noqa: E402
import zlib  # noqa: E402

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


def py_max_output(stream, n):
    t = time.perf_counter()
    rlegolomb.decompress(stream, max_output=n)
    return time.perf_counter() - t


VARIANTS = {"C expand": c_expand, "C bits+expand": c_bits_expand, "py decompress": py_decompress,
            "py max_output": py_max_output}


def load_before(directory):
    path = next(pathlib.Path(directory).glob("_rlegolomb*.so"))
    found = importlib.util.spec_from_file_location("_rlegolomb", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def small_mask():
    y, x = np.mgrid[:64, :64]
    return np.packbits((x - 30) ** 2 + (y - 34) ** 2 < 20 ** 2).tobytes()


def per_call(function, calls=2000):
    t = time.perf_counter()
    for _ in range(calls):
        function()
    return (time.perf_counter() - t) / calls


def small(before):
    raw = small_mask()
    stream, zstream = rlegolomb.compress(raw), zlib.compress(raw)
    k = stream[0]
    variants = {
        "zlib.decompress": lambda: zlib.decompress(zstream),
        "decompress": lambda: rlegolomb.decompress(stream),
        "zlib.compress": lambda: zlib.compress(raw),
        "compress": lambda: rlegolomb.compress(raw),
        "compress k": lambda: rlegolomb.compress(raw, k),
    }
    if before is not None:
        assert before.decompress(stream) == raw and before.compress(raw) == stream
        variants["before: decompress"] = lambda: before.decompress(stream)
        variants["before: compress"] = lambda: before.compress(raw)
        variants["before: compress k"] = lambda: before.compress(raw, k)
    assert rlegolomb.decompress(stream) == raw
    print(f"\nsmall mask: {len(raw)} bytes, stream {len(stream)} bytes (k = {k}), zlib {len(zstream)} bytes")
    names = list(variants)
    times = {v: [] for v in names}
    for r in range(rounds + 1):
        for v in names[r % len(names):] + names[:r % len(names)]:
            t = per_call(variants[v])
            if r > 0:
                times[v].append(t)
    print(f"{rounds} rounds; medians of the mean time per call; ratio = median over rounds of time / zlib's")
    print("| call | us per call | ratio to zlib |")
    print("|---|---:|---:|")
    for v in names:
        base = times["zlib.decompress" if "decompress" in v else "zlib.compress"]
        ratio = statistics.median(t / b for t, b in zip(times[v], base))
        print(f"| {v} | {statistics.median(times[v]) * 1e6:.2f} | {ratio:.2f} |")


def main():
    before = load_before(before_dir) if before_dir else None
    small(before)
    if "--small-only" in options:
        return
    if before is not None:
        def before_decompress(stream, n):
            t = time.perf_counter()
            before.decompress(stream)
            return time.perf_counter() - t

        VARIANTS["before: py decompress"] = before_decompress
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
