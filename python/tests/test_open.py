"""rlegolomb.open(): reads, seeks and indexes against the whole expansion; writing; refusals."""

import io
import os
import random
import subprocess

import pytest

import rlegolomb
from conftest import INPUTS, STREAMS, runs

# Streams whose expansion spans many checkpoints at a small spacing, at the k the loops treat
# apart (1, the grouped 2..6, plain codes), and the module's crafted ones.
LARGE = {
    f"runs-k{k}": rlegolomb.compress(runs(random.Random(k), 20000, mean), k)
    for k, mean in ((1, 2), (4, 12), (6, 40), (11, 900))
}
ALL = {**LARGE, **{name: data for name, (data, _) in STREAMS.items()}}


@pytest.mark.parametrize("name", sorted(ALL))
@pytest.mark.parametrize("spacing", [1, 100, None])
def test_seeks_and_reads_match_the_expansion(name, spacing):
    stream = ALL[name]
    whole = rlegolomb.decompress(stream)
    rng = random.Random(name)
    with rlegolomb.open(io.BytesIO(stream), spacing=spacing) as f:
        assert f.readable() and f.seekable() and not f.writable()
        # Sequential reads first (they build the index on the way), then seeks both ways.
        assert f.read(7) + f.read(100) + f.read() == whole
        f.seek(0)
        assert f.read(1 << 50) == whole  # a size far past the end takes no room of its size
        for _ in range(30):
            offset = rng.randrange(len(whole) + 3)
            size = rng.choice([0, 1, 9, 4000])
            assert f.seek(offset) == offset and f.tell() == offset
            assert f.read(size) == whole[offset : offset + size]
            assert f.tell() == offset + len(whole[offset : offset + size])
        if len(whole) >= 3:
            assert f.seek(-3, io.SEEK_END) == len(whole) - 3
            assert f.read() == whole[-3:]
        f.seek(0)
        f.seek(5, io.SEEK_CUR)
        buffer = bytearray(11)
        assert f.readinto(buffer) == len(whole[5:16])
        assert bytes(buffer[: len(whole[5:16])]) == whole[5:16]


def test_an_index_from_a_path_a_file_or_bytes_serves_every_reader(tmp_path):
    stream = LARGE["runs-k4"]
    whole = rlegolomb.decompress(stream)
    path = tmp_path / "a.rlg"
    path.write_bytes(stream)
    with rlegolomb.open(path) as f:
        f.build_index(spacing=4096)
        f.export_index(tmp_path / "a.rlg.idx")
    saved = (tmp_path / "a.rlg.idx").read_bytes()
    assert saved[:8] == b"RLGINDEX"
    for index in (tmp_path / "a.rlg.idx", str(tmp_path / "a.rlg.idx"), saved, io.BytesIO(saved)):
        with rlegolomb.open(str(path), index=index) as f:
            f.seek(len(whole) - 5000)
            assert f.read(6000) == whole[-5000:]
    # The program reads the same index file: a range through it gives the same bytes.
    tool = os.environ.get("RLEG_TOOL")
    if tool:
        done = subprocess.run(
            [tool, "-dc", "--offset=30000", "--length=100", str(path)], capture_output=True
        )
        assert done.returncode == 0 and done.stderr == b""
        assert done.stdout == whole[30000:30100]


def test_damaged_or_foreign_indexes_are_refused(tmp_path):
    stream = LARGE["runs-k6"]
    with rlegolomb.open(io.BytesIO(stream)) as f:
        buffer = io.BytesIO()
        f.export_index(buffer)
    saved = buffer.getvalue()
    damaged = bytearray(saved)
    damaged[len(damaged) // 2] ^= 4
    with pytest.raises(ValueError, match="damaged"):
        rlegolomb.open(io.BytesIO(stream), index=bytes(damaged))
    with pytest.raises(ValueError, match="another stream"):
        rlegolomb.open(io.BytesIO(LARGE["runs-k4"]), index=saved)


@pytest.mark.parametrize("k", [None, 0, 3, 33])
def test_writing_gives_the_stream_of_compress(tmp_path, k):
    data = INPUTS["runs"] + INPUTS["long"]
    with rlegolomb.open(tmp_path / "w.rlg", "wb", k=k) as f:
        assert f.writable() and not f.readable()
        for start in range(0, len(data), 777):
            assert f.write(data[start : start + 777]) == len(data[start : start + 777])
        assert f.tell() == len(data)
    assert (tmp_path / "w.rlg").read_bytes() == rlegolomb.compress(data, k)
    with rlegolomb.open(tmp_path / "w.rlg") as f:
        assert f.read() == data


def test_misuse_is_refused(tmp_path):
    stream = LARGE["runs-k1"]
    f = rlegolomb.open(io.BytesIO(stream))
    with pytest.raises(ValueError, match="negative seek"):
        f.seek(-1)
    with pytest.raises(ValueError, match="whence"):
        f.seek(0, 3)
    with pytest.raises(io.UnsupportedOperation):
        f.write(b"x")
    f.close()
    f.close()
    with pytest.raises(ValueError, match="closed"):
        f.read(1)
    with pytest.raises(ValueError, match="mode"):
        rlegolomb.open(io.BytesIO(stream), "rt")
    with pytest.raises(ValueError, match="threads"):
        rlegolomb.open(io.BytesIO(stream), threads=-1)
    with pytest.raises(TypeError):
        rlegolomb.open(12.5)
    w = rlegolomb.open(io.BytesIO(), "wb", k=3)
    with pytest.raises(io.UnsupportedOperation):
        w.read(1)
    w.close()
