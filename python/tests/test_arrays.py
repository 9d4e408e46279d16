"""compress_array and decompress_array: any shape and memory order, bool or integer masks, bits
in C order and most significant first."""

import numpy as np
import pytest

import rlegolomb
from conftest import STREAMS, stream


def packed(mask):
    """The mask's bits in C order, eight to a byte, most significant first, zero-filled."""
    bits = "".join("1" if value else "0" for value in np.asarray(mask).flat)
    bits += "0" * (-len(bits) % 8)
    return int(bits, 2).to_bytes(len(bits) // 8, "big") if bits else b""


rng = np.random.default_rng(7)
blocks = np.zeros((40, 56), dtype=bool)
blocks[5:30, 10:50] = True
blocks[12:20, 20:30] = False
cube = rng.integers(-3, 4, size=(3, 5, 7)).astype(np.int16) * 256  # low bytes all zero

MASKS = {
    "0-d-true": np.array(True),
    "0-d-zero": np.array(0, dtype=np.uint8),
    "1-d": rng.random(13) < 0.5,
    "2-d": blocks,
    "2-d-fortran": np.asfortranarray(blocks),
    "2-d-strided": blocks[::3, ::-2],
    "3-d-int16": cube,
    "3-d-fortran-int64": np.asfortranarray(rng.integers(0, 3, size=(4, 3, 6))),
    "uint64-high-bit": np.array([0, 2**63, 1, 0, 0, 2**40, 0, 0, 7], dtype=np.uint64),
    "big-endian-int32": np.array([[0, 1 << 24], [5, 0]], dtype=">i4"),
    "empty": np.zeros(0, dtype=bool),
    "empty-2-d": np.zeros((0, 9), dtype=np.int8),
    "empty-inside": np.zeros((4, 0, 3), dtype=bool),
}


@pytest.mark.parametrize("k", [None, 0, 5, 33])
@pytest.mark.parametrize("name", MASKS)
def test_masks_round_trip(name, k):
    mask = MASKS[name]
    data = rlegolomb.compress_array(mask, k)
    assert data == rlegolomb.compress(packed(mask), k)
    back = rlegolomb.decompress_array(data, mask.shape)
    assert back.dtype == np.bool_ and back.shape == mask.shape and back.flags.writeable
    np.testing.assert_array_equal(back, mask != 0)


def test_anything_numpy_takes_is_a_mask():
    assert rlegolomb.compress_array([[1, 0, 0], [0, 0, 9]]) == rlegolomb.compress(b"\x84")


@pytest.mark.parametrize(
    "data, shape, expected",
    [
        # The first bits only; the rest of the expansion (F8 = 11111000) is ignored.
        (STREAMS["k34-f8"][0], (2, 3), [[1, 1, 1], [1, 1, 0]]),
        (STREAMS["k34-f8"][0], 4, [1, 1, 1, 1]),
        (STREAMS["k34-f8"][0], (), 1),
        (STREAMS["k34-f8"][0], [8], [1, 1, 1, 1, 1, 0, 0, 0]),
        # Exactly the 3 bits of the expansion, not the byte the zero fill makes of them.
        (STREAMS["k2-three-bits"][0], (np.int64(3),), [1, 1, 1]),
        (b"", (0, 4), np.zeros((0, 4))),
        # A 310 KB expansion, of which 5 bits are read.
        (stream(12, 0, [(3, 100)] * 200)[0], (5,), [0, 0, 0, 0, 0]),
    ],
)
def test_decompress_array_reads_the_first_bits(data, shape, expected):
    np.testing.assert_array_equal(rlegolomb.decompress_array(data, shape), np.array(expected, dtype=bool))


@pytest.mark.parametrize(
    "data, shape",
    [(STREAMS["k2-three-bits"][0], (4,)), (STREAMS["k34-f8"][0], (3, 3)), (b"", 1), (b"\x05", ())],
)
def test_decompress_array_refuses_a_shape_past_the_expansion(data, shape):
    with pytest.raises(ValueError, match="fewer"):
        rlegolomb.decompress_array(data, shape)


def test_a_pbm_raster_is_read_as_the_docstring_says(program_compress):
    # A 10 x 3 raster: rows of 2 bytes, the last 6 bits of each row padding.
    pixels = np.array([[1, 0, 1, 1, 0, 0, 0, 0, 1, 1], [0] * 10, [1] * 10], dtype=bool)
    raster = np.packbits(pixels, axis=1).tobytes()
    stream_ = program_compress(raster)
    h, w = pixels.shape
    got = rlegolomb.decompress_array(stream_, (h, 8 * ((w + 7) // 8)))[:, :w]
    np.testing.assert_array_equal(got, pixels)
    # A whole PBM file, header included.
    raw = rlegolomb.decompress(program_compress(b"P4\n10 3\n" + raster))
    rows = np.frombuffer(raw, np.uint8, offset=len(raw) - h * ((w + 7) // 8))
    np.testing.assert_array_equal(np.unpackbits(rows.reshape(h, -1), axis=1)[:, :w].astype(bool), pixels)
