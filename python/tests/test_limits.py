"""max_output, the cap on a whole expansion: exact at its bound, in one call and over pieces;
decoding stops at the limit, so a small stream of an enormous expansion takes no more memory than the limit."""

import random
import tracemalloc

import numpy  # imported here, so that its first import is not counted below
import pytest

import rlegolomb
from conftest import STREAMS, cuts, stream

# 1000 codes of the longest run at k = 0: 2^31 - 1 bits each, 268 GB from 4 KB.
BOMB = stream(0, 1, [(0, 2**31 - 1)] * 1000)[0]


@pytest.mark.parametrize("name", ["k34-f8", "k2-three-bits", "k3-long-quotient", "random-k12", "mandelbrot", "empty"])
def test_max_output_is_exact(name):
    data = STREAMS[name][0]
    whole = rlegolomb.decompress(data)
    n = len(whole)
    assert rlegolomb.decompress(data, max_output=n) == whole
    assert rlegolomb.decompress(data, n + 1) == whole
    for seed in range(3):
        d = rlegolomb.Decompressor(max_output=n)
        out = b"".join(d.decompress(p) for p in cuts(data, random.Random(seed))) + d.flush()
        assert out == whole
    if n == 0:
        return
    with pytest.raises(rlegolomb.OutputLimitError):
        rlegolomb.decompress(data, max_output=n - 1)
    for seed in range(3):
        d = rlegolomb.Decompressor(max_output=n - 1)
        given = b""
        with pytest.raises(rlegolomb.OutputLimitError):
            for piece in cuts(data, random.Random(seed)):
                given += d.decompress(piece)
            given += d.flush()
        # What came before the error is the start of the expansion, within the limit.
        assert whole.startswith(given) and len(given) <= n - 1
        # The decompressor stays failed.
        with pytest.raises(rlegolomb.OutputLimitError):
            d.decompress(b"")
        with pytest.raises(rlegolomb.OutputLimitError):
            d.flush()


def test_max_output_zero_allows_only_an_empty_expansion():
    assert rlegolomb.decompress(b"\x05\x80", max_output=0) == b""
    with pytest.raises(rlegolomb.OutputLimitError):
        rlegolomb.decompress(b"\x02\xb0", max_output=0)
    d = rlegolomb.Decompressor(0)
    d.decompress(b"\x02\xb0")
    with pytest.raises(rlegolomb.OutputLimitError):
        d.flush()


def test_the_old_max_length_keyword_still_caps_the_whole_expansion():
    # One version of grace for callers of the old name, which Decompressor.decompress() now
    # takes for a per-call cap, as bz2 and lzma do.
    data = STREAMS["k2-three-bits"][0]  # a 1-byte expansion
    with pytest.warns(DeprecationWarning, match="max_output"):
        assert rlegolomb.decompress(data, max_length=1) == rlegolomb.decompress(data)
    with pytest.warns(DeprecationWarning), pytest.raises(rlegolomb.OutputLimitError):
        rlegolomb.decompress(data, max_length=0)
    with pytest.warns(DeprecationWarning, match="max_output"):
        d = rlegolomb.Decompressor(max_length=0)
    assert d.max_output == 0 and d.decompress(data) == b""
    with pytest.raises(rlegolomb.OutputLimitError):
        d.flush()
    with pytest.warns(DeprecationWarning):
        assert d.max_length == 0


def peak_traced(call):
    tracemalloc.start()
    try:
        call()
    finally:
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
    return peak


def raises_limit(call):
    def run():
        with pytest.raises(rlegolomb.OutputLimitError):
            call()

    return run


@pytest.mark.parametrize(
    "call",
    [
        raises_limit(lambda: rlegolomb.decompress(BOMB, max_output=10**6)),
        raises_limit(lambda: rlegolomb.Decompressor(10**6).decompress(BOMB)),
        # The first code alone is a run of 2^31 - 1 bits.
        raises_limit(lambda: rlegolomb.Decompressor(10**6).decompress(BOMB[:6])),
        # Only the first bits that the shape needs are decoded.
        lambda: rlegolomb.decompress_array(BOMB, (1000, 1000)).all() or pytest.fail(),
    ],
    ids=["decompress", "Decompressor", "Decompressor-one-code", "decompress_array"],
)
def test_a_small_stream_of_a_huge_expansion_takes_only_the_limits_memory(call):
    assert peak_traced(call) < 4 * 10**6


def test_the_bits_of_a_huge_expansion_are_counted_exactly():
    assert rlegolomb.expanded_bits(BOMB) == 1000 * (2**31 - 1)


def test_a_shape_larger_than_the_expansion_takes_only_the_expansions_memory():
    data, bits = stream(12, 1, [(3, 100)] * 200)  # 200 runs of 12388 bits: 310 KB

    def call():
        with pytest.raises(ValueError, match=f"holds {bits} bits"):
            rlegolomb.decompress_array(data, (10**6, 10**6))

    assert peak_traced(call) < 4 * 10**6


@pytest.mark.parametrize("k", [None, 0, 20, 32, 255])
def test_compress_takes_memory_for_the_stream_not_for_the_worst_case(k):
    data = bytes(10**7)  # one run of 8 * 10^7 bits: a stream of a few bytes at these k
    assert peak_traced(lambda: rlegolomb.compress(data, k)) < 10**6
