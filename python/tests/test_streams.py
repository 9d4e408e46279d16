"""Compressor and Decompressor: any cutting of the input gives the one-shot result, and the
objects' ends follow bz2's and lzma's conventions."""

import random

import pytest

import rlegolomb
from conftest import INPUTS, STREAMS, cuts


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("name", STREAMS)
def test_decompressor_in_pieces_gives_the_one_shot_bytes(name, seed):
    stream = STREAMS[name][0]
    whole = rlegolomb.decompress(stream)
    d = rlegolomb.Decompressor()
    before_flush = b"".join(d.decompress(piece) for piece in cuts(stream, random.Random(seed)))
    assert not d.eof
    # Every whole byte of the codes given so far comes out before the end is known.
    assert len(before_flush) >= len(whole) - 1
    assert before_flush + d.flush() == whole
    assert d.eof
    assert d.bits == rlegolomb.expanded_bits(stream)


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("k", [0, 1, 7, 31, 32, 33, 63, 200])
@pytest.mark.parametrize("name", ["empty", "noise", "runs", "long"])
def test_compressor_in_pieces_gives_the_one_shot_stream(name, k, seed):
    data = INPUTS[name]
    c = rlegolomb.Compressor(k)
    out = b"".join(c.compress(piece) for piece in cuts(data, random.Random(seed)))
    assert out + c.flush() == rlegolomb.compress(data, k)


def test_pieces_may_be_any_bytes_like_object():
    import array

    data = INPUTS["runs"]
    c = rlegolomb.Compressor(5)
    parts = [c.compress(bytearray(data[:100])), c.compress(memoryview(data)[100:300])]
    parts += [c.compress(array.array("B", data[300:])), c.flush()]
    stream = b"".join(parts)
    assert stream == rlegolomb.compress(data, 5)
    d = rlegolomb.Decompressor()
    assert d.decompress(memoryview(bytearray(stream))) + d.flush() == data


def test_decompressor_after_its_end():
    d = rlegolomb.Decompressor()
    assert d.decompress(STREAMS["k34-f8"][0]) + d.flush() == b"\xf8"
    assert d.flush() == b""  # a second flush has nothing left to give
    for piece in (b"\x01", b""):
        with pytest.raises(EOFError, match="End of stream already reached"):
            d.decompress(piece)
    assert d.eof and d.bits == 8


def test_compressor_after_flush():
    c = rlegolomb.Compressor(34)
    assert c.compress(b"\xf8") + c.flush() == STREAMS["k34-f8"][0]
    with pytest.raises(ValueError, match="flushed"):
        c.compress(b"\x00")
    with pytest.raises(ValueError, match="flush"):
        c.flush()
