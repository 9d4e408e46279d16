"""Several threads at once: one-shot calls and objects of their own give the single-thread
results, and an object shared by threads serialises their calls. And one stream on several
threads (threads=): every entry gives with 2 threads and with one per processor (0) the bytes it
gives with 1, on inputs of several MiB, whole and in pieces, and refuses a bad count."""

import collections
import io
import random
import threading

import numpy as np
import pytest

import rlegolomb
from conftest import cuts, runs, stream
from masks import make_mask

THREADS = 4


def run_threads(work):
    errors, barrier = [], threading.Barrier(THREADS)

    def body(index):
        try:
            barrier.wait()
            work(index)
        except BaseException as error:  # reported in the main thread
            errors.append(error)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors


def test_threads_decompress_and_compress_at_once():
    inputs = [runs(random.Random(10 + i), 30000, 30 + 40 * i) for i in range(THREADS)]
    streams = [rlegolomb.compress(data) for data in inputs]

    def work(i):
        rng = random.Random(i)
        for _ in range(5):
            assert rlegolomb.decompress(streams[i]) == inputs[i]
            assert rlegolomb.compress(inputs[i]) == streams[i]
            d = rlegolomb.Decompressor(len(inputs[i]))
            assert b"".join(d.decompress(p) for p in cuts(streams[i], rng)) + d.flush() == inputs[i]

    run_threads(work)


def test_a_shared_decompressor_takes_one_call_at_a_time():
    # After the header, every piece is made of the same byte, so the stream the decompressor
    # sees is the same whatever order the threads' pieces come in.
    header, body = b"\x0c\x95", 0x95
    pieces_per_thread = 300
    sizes = [[random.Random(t * 1000 + j).randrange(0, 40) for j in range(pieces_per_thread)] for t in range(THREADS)]
    whole = rlegolomb.decompress(header + bytes([body]) * sum(map(sum, sizes)))
    d = rlegolomb.Decompressor()
    first = d.decompress(header)
    outputs = [[] for _ in range(THREADS)]

    def work(i):
        for size in sizes[i]:
            outputs[i].append(d.decompress(bytes([body]) * size))

    run_threads(work)
    given = first + b"".join(b"".join(out) for out in outputs) + d.flush()
    assert len(given) == len(whole)
    assert collections.Counter(given) == collections.Counter(whole)
    assert d.bits == rlegolomb.expanded_bits(header + bytes([body]) * sum(map(sum, sizes)))


# ---- One stream on several threads: threads=2 and threads=0 (every processor) against 1 ------
MIB = 1 << 20


def geometric_bits(seed, size, mean):
    """size bytes of alternating runs with geometric lengths of the given mean: each bit flips
    with probability 1 / mean."""
    flips = np.random.default_rng(seed).integers(0, mean, size=size * 8, dtype=np.uint8) == 0
    return np.packbits(np.bitwise_xor.accumulate(flips.view(np.uint8))).tobytes()


# Several MiB each, so that a call brings a threaded decoder or encoder far more than the 128 KiB it
# shares out: short runs (k = 1), medium runs (k = 4 or 5), noise, a mask, and random bytes read as
# a stream (codes that a wrong start cannot tell from right ones).
MASK = make_mask(3000, 4096, seed=4)
RAW = {
    "short-runs": geometric_bits(1, 6 * MIB, 3),
    "medium-runs": geometric_bits(2, 5 * MIB, 40),
    "noise": random.Random(3).randbytes(3 * MIB),
    "mask": np.packbits(MASK).tobytes(),
}
STREAMS_BIG = {name: rlegolomb.compress(data) for name, data in RAW.items()}
STREAMS_BIG["random-k4"] = bytes([4]) + random.Random(5).randbytes(3 * MIB)
STREAMS_BIG["random-k1"] = bytes([1]) + random.Random(6).randbytes(2 * MIB)
EXPANDED = {name: rlegolomb.decompress(stream) for name, stream in STREAMS_BIG.items()}
COUNTS = [2, 0]


@pytest.mark.parametrize("threads", COUNTS)
@pytest.mark.parametrize("name", RAW)
def test_compress_gives_the_one_thread_stream(name, threads):
    data = RAW[name]
    assert rlegolomb.compress(data, threads=threads) == STREAMS_BIG[name]
    for k in (1, 6):
        assert rlegolomb.compress(data, k, threads=threads) == rlegolomb.compress(data, k)


@pytest.mark.parametrize("threads", COUNTS)
@pytest.mark.parametrize("name", STREAMS_BIG)
def test_decompress_gives_the_one_thread_expansion(name, threads):
    stream, expanded = STREAMS_BIG[name], EXPANDED[name]
    if name in RAW:
        assert expanded == RAW[name]
    assert rlegolomb.decompress(stream, threads=threads) == expanded
    # A cap inside the expansion stops it alike; one at its length lets it through.
    cap = len(expanded) // 3 + 1
    with pytest.raises(rlegolomb.OutputLimitError):
        rlegolomb.decompress(stream, max_output=cap, threads=threads)
    assert rlegolomb.decompress(stream, max_output=len(expanded), threads=threads) == expanded
    out = bytearray(len(expanded))
    assert rlegolomb._rlegolomb.expand_into(stream, out, threads) == len(expanded)
    assert out == expanded


@pytest.mark.parametrize("threads", COUNTS)
def test_arrays_agree(threads):
    mask = MASK
    stream = rlegolomb.compress_array(mask, threads=threads)
    assert stream == rlegolomb.compress_array(mask)
    assert (rlegolomb.decompress_array(stream, mask.shape, threads=threads) == mask).all()
    # A prefix decodes no further than it needs: the first 2000 rows.
    top = rlegolomb.decompress_array(stream, (2000, 4096), threads=threads)
    assert (top == mask[:2000]).all()


@pytest.mark.parametrize("threads", COUNTS)
@pytest.mark.parametrize("name", ["short-runs", "mask", "random-k4"])
def test_objects_fed_in_pieces_agree(name, threads):
    rng = random.Random(len(name) + threads)
    stream, expanded = STREAMS_BIG[name], EXPANDED[name]
    # Pieces from nothing to several MiB, so that some calls bring the threads enough and some not.
    def pieces(data):
        out, pos = [], 0
        while pos < len(data):
            size = rng.choice([0, 1, 100, 70_000, 200_000, 3 * MIB])
            out.append(data[pos : pos + size])
            pos += size
        return out

    d = rlegolomb.Decompressor(threads=threads)
    assert b"".join(d.decompress(p) for p in pieces(stream)) + d.flush() == expanded
    assert d.bits == rlegolomb.expanded_bits(stream)
    # With a per-call cap, every result stays within it and the whole comes out.
    d, parts = rlegolomb.Decompressor(threads=threads), []
    for p in pieces(stream):
        parts.append(d.decompress(p, 1 * MIB))
        while not d.needs_input:
            parts.append(d.decompress(b"", 1 * MIB))
    parts.append(d.flush())
    assert max(map(len, parts[:-1])) <= 1 * MIB and len(parts[-1]) <= 1
    assert b"".join(parts) == expanded
    if name in RAW:
        for k in (None, 4):
            c = rlegolomb.Compressor(k, threads=threads)
            got = b"".join(c.compress(p) for p in pieces(RAW[name])) + c.flush()
            assert got == rlegolomb.compress(RAW[name], k)


@pytest.mark.parametrize("threads", COUNTS)
def test_open_reads_and_writes_alike(tmp_path, threads):
    stream, expanded = STREAMS_BIG["medium-runs"], EXPANDED["medium-runs"]
    path = tmp_path / "s.rlg"
    path.write_bytes(stream)
    with rlegolomb.open(path, threads=threads) as f:
        assert f.read() == expanded
        f.seek(len(expanded) // 2 + 3)
        assert f.read(2 * MIB) == expanded[len(expanded) // 2 + 3 :][: 2 * MIB]
        f.seek(-100, io.SEEK_END)
        assert f.read() == expanded[-100:]
    with rlegolomb.open(io.BytesIO(stream), threads=threads) as f:
        f.seek(4 * MIB)
        assert f.read(20 * MIB) == expanded[4 * MIB :]
    out = io.BytesIO()
    with rlegolomb.open(out, "wb", k=5, threads=threads) as f:
        f.write(RAW["medium-runs"][: 3 * MIB])
        f.write(RAW["medium-runs"][3 * MIB :])
    assert out.getvalue() == rlegolomb.compress(RAW["medium-runs"], 5)


def test_thread_counts_are_checked():
    data, stream = RAW["noise"][:1000], STREAMS_BIG["noise"][:1000]
    for call in (
        lambda t: rlegolomb.compress(data, threads=t),
        lambda t: rlegolomb.decompress(stream, threads=t),
        lambda t: rlegolomb.compress_array(np.zeros(9, bool), threads=t),
        lambda t: rlegolomb.decompress_array(stream, 8, threads=t),
        lambda t: rlegolomb.Compressor(3, threads=t),
        lambda t: rlegolomb.Compressor(threads=t),
        lambda t: rlegolomb.Decompressor(threads=t),
        lambda t: rlegolomb.open(io.BytesIO(stream), threads=t),
    ):
        with pytest.raises(ValueError, match="threads must be >= 0"):
            call(-1)
        with pytest.raises(TypeError):
            call("2")
        call(2**70)  # far past any machine: the library's most
    # A negative count is refused before a file to write is opened (and so truncated).
    with pytest.raises(ValueError):
        rlegolomb.open(io.BytesIO(), "wb", threads=-3)


def test_the_codec_takes_threads_and_keeps_its_config():
    numcodecs = pytest.importorskip("numcodecs")
    from rlegolomb.numcodecs import RLEGolomb

    assert RLEGolomb(4).get_config() == {"id": "rlegolomb", "k": 4}
    codec = RLEGolomb(threads=0)
    assert codec.get_config() == {"id": "rlegolomb", "k": None, "threads": 0}
    assert repr(codec) == "RLEGolomb(k=None, threads=0)"
    again = numcodecs.get_codec(codec.get_config())
    assert again.threads == 0
    data = RAW["short-runs"]
    encoded = again.encode(data)
    assert encoded == STREAMS_BIG["short-runs"]
    out = bytearray(len(data))
    again.decode(encoded, out=out)
    assert out == data and bytes(again.decode(encoded)) == data
    with pytest.raises(ValueError):
        RLEGolomb(threads=-1)
