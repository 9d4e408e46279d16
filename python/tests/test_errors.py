"""Bad arguments raise TypeError or ValueError with the object untouched, and no byte string makes
any function fail or crash."""

import random

import numpy as np
import pytest

import rlegolomb
from conftest import cuts

BAD = [
    (lambda: rlegolomb.compress("text"), TypeError),
    (lambda: rlegolomb.compress(5), TypeError),
    (lambda: rlegolomb.compress(None), TypeError),
    (lambda: rlegolomb.compress([1, 2]), TypeError),
    (lambda: rlegolomb.compress(b"", 1.0), TypeError),
    (lambda: rlegolomb.compress(b"", "3"), TypeError),
    (lambda: rlegolomb.compress(b"", k=-1), ValueError),
    (lambda: rlegolomb.compress(b"", k=256), ValueError),
    (lambda: rlegolomb.compress(b"", k=2**70), ValueError),
    (lambda: rlegolomb.compress(b"", k=-(2**70)), ValueError),
    (lambda: rlegolomb.compress(memoryview(b"abcd")[::2]), BufferError),  # not contiguous, as zlib
    (lambda: rlegolomb.decompress("text"), TypeError),
    (lambda: rlegolomb.decompress(b"", max_output=-1), ValueError),
    (lambda: rlegolomb.decompress(b"", max_output=1.5), TypeError),
    (lambda: rlegolomb.decompress(b"", 1, max_output=1), TypeError),
    (lambda: rlegolomb.decompress(b"", max_output=1, max_length=1), TypeError),
    (lambda: rlegolomb.decompress(b"", 1, 2), TypeError),
    (lambda: rlegolomb.decompress(data=b""), TypeError),
    (lambda: rlegolomb.decompress(b"", k=3), TypeError),
    (lambda: rlegolomb.decompress(), TypeError),
    (lambda: rlegolomb.expanded_bits(3), TypeError),
    (lambda: rlegolomb.choose_k("text"), TypeError),
    (lambda: rlegolomb.Compressor(2.0), TypeError),
    (lambda: rlegolomb.Compressor(1, 2), TypeError),
    (lambda: rlegolomb.Compressor(level=1), TypeError),
    (lambda: rlegolomb.Compressor(256), ValueError),
    (lambda: rlegolomb.Compressor(5).compress("text"), TypeError),
    (lambda: rlegolomb.Decompressor(-1), ValueError),
    (lambda: rlegolomb.Decompressor("1"), TypeError),
    (lambda: rlegolomb.Decompressor(1, max_length=1), TypeError),
    (lambda: rlegolomb.Decompressor().decompress(7), TypeError),
    (lambda: rlegolomb.Decompressor().decompress(b"", 1.5), TypeError),
    (lambda: rlegolomb.Decompressor().decompress(b"", 1, 2), TypeError),
    (lambda: rlegolomb.Decompressor().decompress(b"", max_output=1), TypeError),
    (lambda: rlegolomb.compress_array(np.zeros(8)), TypeError),
    (lambda: rlegolomb.compress_array(np.array(["1", "0"])), TypeError),
    (lambda: rlegolomb.compress_array(np.zeros(8, bool), k=300), ValueError),
    (lambda: rlegolomb.decompress_array(b"\x05", (-1,)), ValueError),
    (lambda: rlegolomb.decompress_array(b"\x05", (2, -3)), ValueError),
    (lambda: rlegolomb.decompress_array(b"\x05", (2.0,)), TypeError),
    (lambda: rlegolomb.decompress_array(b"\x05", "ab"), TypeError),
    (lambda: rlegolomb.decompress_array(b"\x05", None), TypeError),
    (lambda: rlegolomb.decompress_array("text", (1,)), TypeError),
]


@pytest.mark.parametrize("call, error", BAD)
def test_bad_arguments(call, error):
    with pytest.raises(error) as raised:
        call()
    # CPython's short messages, never a dump of the binding's overloads.
    assert "Invoked with" not in str(raised.value) and "incompatible" not in str(raised.value)


def test_output_limit_error_is_a_value_error():
    assert issubclass(rlegolomb.OutputLimitError, ValueError)
    assert rlegolomb.OutputLimitError.__module__ == "rlegolomb"


def test_a_refused_piece_leaves_the_objects_as_they_were():
    c, d = rlegolomb.Compressor(3), rlegolomb.Decompressor()
    first = c.compress(b"\x0f\xf0")
    with pytest.raises(TypeError):
        c.compress("text")
    assert first + c.compress(b"\x00") + c.flush() == rlegolomb.compress(b"\x0f\xf0\x00", 3)
    out = d.decompress(b"\x22\xb0")
    with pytest.raises(TypeError):
        d.decompress("text")
    assert out + d.decompress(b"\x98") + d.flush() == b"\xf8"


LIMIT = 1 << 16


@pytest.mark.parametrize("seed", range(300))
def test_any_bytes_decode_alike_everywhere(seed):
    rng = random.Random(seed)
    data = rng.randbytes(rng.randrange(0, 48))
    try:
        whole = rlegolomb.decompress(data, max_output=LIMIT)
    except rlegolomb.OutputLimitError:
        whole = None
    d = rlegolomb.Decompressor(LIMIT)
    try:
        pieces = b"".join(d.decompress(p) for p in cuts(data, rng)) + d.flush()
    except rlegolomb.OutputLimitError:
        pieces = None
    assert pieces == whole
    if whole is not None:
        assert rlegolomb.decompress(data) == whole
        bits = rlegolomb.expanded_bits(data)
        assert (bits + 7) // 8 == len(whole) and d.bits == bits
        assert rlegolomb.decompress_array(data, bits).tobytes() == np.unpackbits(np.frombuffer(whole, np.uint8), count=bits).tobytes()
