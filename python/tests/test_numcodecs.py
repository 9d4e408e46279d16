"""The numcodecs codec: exactly compress()'s streams, decoding into the destination it is given,
its configuration, the entry point by which other processes find it, and Zarr arrays of it
whose chunks are plain streams."""

import subprocess
import sys

import numpy as np
import pytest

import rlegolomb
from conftest import INPUTS
from masks import make_mask

numcodecs = pytest.importorskip("numcodecs")
from rlegolomb.numcodecs import RLEGolomb  # noqa: E402

BUFFERS = {
    "bytes": INPUTS["runs"],
    "empty": b"",
    "uint8": np.frombuffer(INPUTS["long"], dtype=np.uint8),
    "bool-2-d": make_mask(64, 48),
    "int32-fortran": np.asfortranarray(np.arange(60, dtype=np.int32).reshape(6, 10) // 7),
}


@pytest.mark.parametrize("k", [None, 0, 5, 40])
@pytest.mark.parametrize("name", BUFFERS)
def test_encode_is_compress_and_decode_gives_the_bytes_back(name, k):
    buf = BUFFERS[name]
    # numcodecs' codecs take an array's bytes in memory order.
    raw = buf.tobytes(order="A") if isinstance(buf, np.ndarray) else buf
    codec = RLEGolomb(k)
    data = codec.encode(buf)
    assert data == rlegolomb.compress(raw, k)
    assert bytes(codec.decode(data)) == raw
    out = np.empty_like(buf) if isinstance(buf, np.ndarray) else bytearray(len(raw))
    assert codec.decode(data, out=out) is out
    assert (out.tobytes(order="A") if isinstance(out, np.ndarray) else bytes(out)) == raw


def test_decode_into_a_destination_of_another_size_refuses():
    data = RLEGolomb().encode(b"\x0f" * 100)
    for size in (99, 101, 0):
        with pytest.raises(ValueError, match="out"):
            RLEGolomb().decode(data, out=bytearray(size))
    with pytest.raises((TypeError, BufferError, ValueError)):
        RLEGolomb().decode(data, out=b"\x00" * 100)  # read-only


@pytest.mark.parametrize("k", [None, 0, 17, 255])
def test_the_configuration_round_trips(k):
    codec = RLEGolomb(k=k)
    config = codec.get_config()
    assert config == {"id": "rlegolomb", "k": k}
    again = numcodecs.get_codec(config)
    assert type(again) is RLEGolomb and again == codec and again.k == k
    assert repr(codec) == f"RLEGolomb(k={k!r})"


@pytest.mark.parametrize("k, error", [(-1, ValueError), (256, ValueError), (2.0, TypeError), ("3", TypeError)])
def test_a_bad_k_is_refused(k, error):
    with pytest.raises(error):
        RLEGolomb(k)


def test_another_process_finds_the_codec_by_its_id_without_an_import():
    # As a Dask worker does when it opens the array: numcodecs loads the codec through the
    # `numcodecs.codecs` entry point.
    check = (
        "import sys, numcodecs\n"
        "assert 'rlegolomb' not in sys.modules\n"
        "codec = numcodecs.get_codec({'id': 'rlegolomb', 'k': 3})\n"
        "print(type(codec).__module__, codec.k)\n"
    )
    done = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.split() == ["rlegolomb.numcodecs", "3"], done


def test_a_zarr_array_of_masks_stores_plain_streams(tmp_path, tool_expand):
    zarr = pytest.importorskip("zarr")
    mask = make_mask(300, 200, seed=5)
    path = str(tmp_path / "masks.zarr")
    z = zarr.open(path, mode="w", shape=mask.shape, chunks=(128, 96), dtype=bool,
                  filters=[numcodecs.PackBits()], compressor=RLEGolomb())
    z[:] = mask
    back = zarr.open(path, mode="r")
    np.testing.assert_array_equal(back[:], mask)
    assert back.compressor == RLEGolomb() and back.nchunks == 9
    # Each chunk as stored is a stream that `rlegolomb -d` expands to the packed chunk.
    block = mask[128:256, 96:192]  # chunk (1, 1)
    stored = (tmp_path / "masks.zarr" / "1.1").read_bytes()
    assert tool_expand(stored) == numcodecs.PackBits().encode(block).tobytes()


def test_a_zarr_array_of_packed_rows_needs_no_filter(tmp_path):
    zarr = pytest.importorskip("zarr")
    rows = np.packbits(make_mask(256, 512, seed=6), axis=1)  # 256 x 64 bytes
    z = zarr.open(str(tmp_path / "rows.zarr"), mode="w", shape=rows.shape, chunks=(64, 64),
                  dtype=np.uint8, compressor=RLEGolomb(k=4))
    z[:] = rows
    np.testing.assert_array_equal(zarr.open(str(tmp_path / "rows.zarr"), mode="r")[:], rows)
    assert rlegolomb.decompress((tmp_path / "rows.zarr" / "2.0").read_bytes()) == rows[128:192].tobytes()
