"""The conventions of bz2 and lzma: Decompressor.decompress(data, max_length) returns at most
max_length bytes a call and keeps the rest inside (needs_input, eof, unused_data), so any
expansion can be read in pieces of bounded size; Compressor() without k chooses it."""

import random
import tracemalloc

import pytest

import rlegolomb
from conftest import INPUTS, STREAMS, cuts, stream


def read_capped(d, pieces, cap):
    """Feeds pieces with a per-call cap and drains what each holds back, as a bz2 reader does."""
    out = []
    for piece in pieces:
        out.append(d.decompress(piece, cap))
        while not d.needs_input:
            out.append(d.decompress(b"", max_length=cap))
    assert all(len(part) <= cap for part in out)
    return b"".join(out) + d.flush()


@pytest.mark.parametrize("cap", [0, 1, 3, 64, 5000])
@pytest.mark.parametrize("name", ["k34-f8", "k3-long-quotient", "k5-cut-remainder", "random-k12", "mandelbrot", "empty"])
def test_a_per_call_cap_gives_the_whole_expansion_in_bounded_pieces(name, cap):
    data = STREAMS[name][0]
    whole = rlegolomb.decompress(data)
    for seed in range(2):
        d = rlegolomb.Decompressor()
        assert d.needs_input and not d.eof and d.unused_data == b""
        if cap == 0:
            # Nothing comes out, and nothing is lost: the input waits inside.
            assert d.decompress(data, 0) == b""
            assert read_capped(d, [b""], 1) == whole
        else:
            assert read_capped(d, cuts(data, random.Random(seed)), cap) == whole
        assert d.eof and not d.needs_input and d.unused_data == b""
        assert d.bits == rlegolomb.expanded_bits(data)


def test_a_negative_per_call_cap_means_none():
    data = STREAMS["mandelbrot"][0]
    d = rlegolomb.Decompressor()
    assert d.decompress(data, -1) + d.flush() == rlegolomb.decompress(data)


def test_a_bomb_is_read_in_bounded_pieces_with_bounded_memory():
    # 1000 runs of 2^31 - 1 one-bits: 268 GB from 4 KB of stream.
    bomb = stream(0, 1, [(0, 2**31 - 1)] * 1000)[0]
    d = rlegolomb.Decompressor()
    tracemalloc.start()
    try:
        for data in [bomb] + [b""] * 5:
            piece = d.decompress(data, max_length=1 << 20)
            assert len(piece) == 1 << 20 and not piece.strip(b"\xff") and not d.needs_input
            del piece
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 4 << 20


def test_the_total_cap_still_applies_under_a_per_call_cap():
    data = STREAMS["mandelbrot"][0]
    n = len(rlegolomb.decompress(data))
    d = rlegolomb.Decompressor(max_output=n - 1)
    given = b""
    with pytest.raises(rlegolomb.OutputLimitError):
        given += d.decompress(data, 1000)
        while not d.needs_input:
            given += d.decompress(b"", 1000)
        d.flush()
    assert len(given) <= n - 1
    with pytest.raises(rlegolomb.OutputLimitError):
        d.decompress(b"", 1)


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("name", ["empty", "noise", "runs", "long"])
def test_a_compressor_without_k_chooses_it_over_the_whole_input(name, seed):
    data = INPUTS[name]
    c = rlegolomb.Compressor()
    assert c.k is None
    # Every piece is kept until the end, where k is known.
    assert all(c.compress(piece) == b"" for piece in cuts(data, random.Random(seed)))
    assert c.flush() == rlegolomb.compress(data)
    assert c.k == rlegolomb.choose_k(data)
    assert rlegolomb.Compressor(None).k is None and rlegolomb.Compressor(k=4).k == 4
