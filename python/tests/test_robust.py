"""Objects that cannot be misused into a crash or silent loss: made without __init__, after a call
that ran out of memory, and compressing data that another thread changes meanwhile."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

import rlegolomb

UNINITIALISED = {
    "Compressor.compress": lambda c, d: c.compress(b"x"),
    "Compressor.flush": lambda c, d: c.flush(),
    "Compressor.k": lambda c, d: c.k,
    "Decompressor.decompress": lambda c, d: d.decompress(b"x", 5),
    "Decompressor.flush": lambda c, d: d.flush(),
    "Decompressor.eof": lambda c, d: d.eof,
    "Decompressor.needs_input": lambda c, d: d.needs_input,
    "Decompressor.bits": lambda c, d: d.bits,
    "Decompressor.max_output": lambda c, d: d.max_output,
}


@pytest.mark.parametrize("name", UNINITIALISED)
def test_an_object_made_without_init_refuses_every_call(name):
    c = rlegolomb.Compressor.__new__(rlegolomb.Compressor)
    d = rlegolomb.Decompressor.__new__(rlegolomb.Decompressor)
    with pytest.raises(TypeError, match=r"__init__\(\) was not called"):
        UNINITIALISED[name](c, d)


def test_init_runs_once():
    c, d = rlegolomb.Compressor(3), rlegolomb.Decompressor()
    with pytest.raises(TypeError, match="only once"):
        c.__init__(4)
    with pytest.raises(TypeError, match="only once"):
        d.__init__(5)
    assert c.k == 3 and d.max_output is None


# Run in a process of its own whose address space is capped: the call's output cannot be held,
# some of its input has been taken, and the object must not go on as if nothing was lost.
OUT_OF_MEMORY = textwrap.dedent(
    """
    import os, resource, sys
    import rlegolomb
    noise = os.urandom(64 << 20)  # 64 MiB of noise is about 1 GiB of stream at k = 0
    bomb = bytes([0, 0xFF, 0xFF, 0xFF, 0xFF]) * 2000
    size = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    resource.setrlimit(resource.RLIMIT_AS, (size + (256 << 20), resource.RLIM_INFINITY))
    for obj, call in [(rlegolomb.Compressor(0), "compress"), (rlegolomb.Decompressor(), "decompress")]:
        try:
            getattr(obj, call)(noise if call == "compress" else bomb)
            sys.exit(f"{call}: no MemoryError")
        except MemoryError:
            pass
        for again in (lambda: getattr(obj, call)(b""), obj.flush):
            try:
                again()
                sys.exit(f"{call}: used again after a MemoryError")
            except ValueError as error:
                assert "ran out of memory" in str(error), error
    print("refused")
    """
)


def test_an_object_refuses_further_use_after_running_out_of_memory():
    done = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], capture_output=True, text=True,
                          timeout=120, env=dict(os.environ))
    assert done.returncode == 0 and done.stdout.strip() == "refused", done


def test_data_changed_during_compress_gives_a_stream_of_its_length():
    # With k chosen, the measuring pass and the encoding pass may see different bytes; the result
    # must still be a stream of that many bytes (or a BufferError), never a SystemError.
    size = 1 << 20
    data = bytearray(size)
    view = memoryview(data)
    patterns = [bytes(size), os.urandom(size), b"\x0f" * size]
    stop = threading.Event()

    def change():
        i = 0
        while not stop.is_set():
            view[:] = patterns[i % 3]
            i += 1

    thread = threading.Thread(target=change)
    thread.start()
    try:
        for _ in range(100):
            try:
                stream = rlegolomb.compress(data)
            except BufferError:
                continue
            assert rlegolomb.expanded_bits(stream) == 8 * size
    finally:
        stop.set()
        thread.join()
