"""Several threads at once: one-shot calls and objects of their own give the single-thread
results, and an object shared by threads serialises their calls."""

import collections
import random
import threading

import rlegolomb
from conftest import cuts, runs, stream

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
