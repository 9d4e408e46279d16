"""Shared helpers of the rlegolomb module tests: the programs run as processes, a stream
written from its fields, random cuts of a byte string, and the inputs most tests use.

ctest sets RLEG_COMPRESS, RLEG_EXPAND and RLEG_TOOL to the programs' paths and RLEG_SOURCE_DIR
to the source tree; run by hand:

    PYTHONPATH=build/python RLEG_COMPRESS=build/rle-golomb-compress \\
        RLEG_EXPAND=build/rle-golomb-expand RLEG_TOOL=build/rlegolomb \\
        /usr/bin/python3 -m pytest python/tests
"""

import itertools
import os
import pathlib
import random
import subprocess

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("RLEG_SOURCE_DIR", pathlib.Path(__file__).parents[2]))

_counter = itertools.count()


def _program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail(f"set {variable} to the program's path (ctest does)", pytrace=False)
    return path


@pytest.fixture(scope="session")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("programs")


def _run(program, scratch, data, *extra):
    n = next(_counter)
    src, dst = scratch / f"in{n}", scratch / f"out{n}"
    src.write_bytes(data)
    done = subprocess.run([program, str(src), str(dst), *extra], capture_output=True)
    assert done.returncode == 0, done
    result = dst.read_bytes()
    src.unlink()
    dst.unlink()
    return result


@pytest.fixture(scope="session")
def program_compress(scratch):
    """rle-golomb-compress on a byte string, with k or without (None)."""
    path = _program("RLEG_COMPRESS")
    return lambda data, k=None: _run(path, scratch, data, *([] if k is None else [str(k)]))


@pytest.fixture(scope="session")
def tool_expand():
    """rlegolomb -d on a byte string, from standard input to standard output."""
    path = _program("RLEG_TOOL")

    def expand(stream):
        done = subprocess.run([path, "-d"], input=stream, capture_output=True)
        assert done.returncode == 0, done
        return done.stdout

    return expand


@pytest.fixture(scope="session")
def program_expand(scratch):
    """rle-golomb-expand on a byte string."""
    path = _program("RLEG_EXPAND")
    return lambda stream: _run(path, scratch, stream)


def remainder_width(k):
    return ((k - 1) & 31) + 1


def run_length(k, q, r):
    """A code's run length: q*m + r in 32-bit wrapping arithmetic, nothing when not positive."""
    length = (q * ((1 << k) & 0xFFFFFFFF) + r) & 0xFFFFFFFF
    return length if 0 < length < 1 << 31 else 0


def stream(k, first, codes, tail=""):
    """The stream of header k, first value `first` and codes (q, r), then the bits of `tail`
    (a string of 0 and 1: a code cut off by the end, which must then come at a byte's end),
    else completed with zero bits. Also gives the exact length of its expansion in bits (the
    zero fill and a cut-off code write nothing)."""
    width = remainder_width(k)
    bits = format(k, "08b") + str(first)
    bits += "".join("1" * q + "0" + format(r, f"0{width}b") for q, r in codes) + tail
    assert not tail or len(bits) % 8 == 0, "a tail must end the last byte"
    bits += "0" * (-len(bits) % 8)
    data = int(bits, 2).to_bytes(len(bits) // 8, "big")
    return data, sum(run_length(k, q, r) for q, r in codes)


def cuts(data, rng):
    """data cut into random pieces, empty ones and single bytes among them."""
    pieces, pos = [], 0
    while pos < len(data):
        size = rng.choice([0, 1, 1, 2, 3, 7, 64, rng.randrange(1, max(2, len(data) // 3))])
        pieces.append(data[pos : pos + size])
        pos += size
    pieces.insert(rng.randrange(len(pieces) + 1), b"")
    return pieces


def runs(rng, count, mean):
    """Bytes of `count` runs of alternating bits with geometric lengths of the given mean."""
    bits, value = [], rng.randrange(2)
    for _ in range(count):
        bits.append(str(value) * (1 + int(rng.expovariate(1 / mean))))
        value ^= 1
    text = "".join(bits)
    text += "0" * (-len(text) % 8)
    return int(text, 2).to_bytes(len(text) // 8, "big") if text else b""


# Inputs to compress: the empty input, one byte, noise, runs of about 40 bits, and runs longer than
# one code of a small remainder holds (split codes).
INPUTS = {
    "empty": b"",
    "f8": b"\xf8",
    "noise": random.Random(1).randbytes(2000),
    "runs": runs(random.Random(2), 600, 40),
    "long": b"\x00" * 9000 + b"\xff" * 12000 + b"\x0f" + b"\x00" * 3,
}

# k from every class: 0, 1..30, 31, 32, 33..63, 64..255 (None: chosen).
KS = [None, 0, 1, 2, 7, 30, 31, 32, 33, 34, 47, 63, 64, 65, 100, 255]


def _streams():
    crafted = {
        # 32-bit wrapping: a remainder of 2^31 and more is negative, q*m + r wraps around
        "k0-wrap": stream(0, 1, [(0, 5), (3, 2), (0, 0x80000001), (0, 0xFFFFFFFF), (2, 0xFFFFFFFF), (0, 7)]),
        # m = 2^31: q = 1 makes the length negative, q = 2 wraps q*m to 0
        "k31": stream(31, 0, [(0, 7), (1, 3), (2, 9), (3, 4), (0, 2047)]),
        # m = 0: the quotient adds nothing
        "k32": stream(32, 1, [(5, 12), (0, 0x80000000), (0, 300), (1, 0)]),
        "k33-split": stream(33, 1, [(0, 1), (0, 0), (0, 1), (4, 1), (0, 1)]),
        "k64": stream(64, 0, [(1, 20), (0, 9)]),
        "k96": stream(96, 1, [(0, 17), (2, 5)]),
        "k255": stream(255, 1, [(4, 100), (0, 3)]),
        "k3-long-quotient": stream(3, 0, [(500, 1), (0, 6)]),
        "k5-cut-remainder": stream(5, 1, [(1, 3)], tail="11111101"),
        "k5-cut-quotient": stream(5, 1, [(1, 3)], tail="11111111"),
        "k2-three-bits": (b"\x02\xb0", 3),
        "k34-f8": (b"\x22\xb0\x98", 8),
        "empty": (b"", 0),
        "header-only": (b"\x05", 0),
        "first-value-only": (b"\x05\x80", 0),
    }
    rng = random.Random(3)
    # Any bytes are a stream; these k keep random codes short.
    for k in (1, 4, 9, 12, 33, 37, 44, 67, 129):
        crafted[f"random-k{k}"] = (bytes([k]) + rng.randbytes(400), None)
    crafted["mandelbrot"] = ((SOURCE_DIR / "examples" / "mandelbrot.rlg").read_bytes(), None)
    return crafted


# Streams to expand, with the exact length of their expansion in bits where it is known.
STREAMS = _streams()
