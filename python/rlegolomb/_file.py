"""rlegolomb.open(): a stream as a file of its expansion, with seek, as gzip.open() gives one.

Reading holds the stream in memory (mapped, for a file on disk) and never the expansion: a read
decodes just the bytes asked for. A seek starts at the last checkpoint of an index before the
offset, so that a band of rows near the end of a large mask costs a small part of the whole
expansion. Without an index, reading from the start builds one on the way; a seek that comes
before it is complete builds it in one pass.
"""

import builtins
import io
import mmap
import operator
import os

from ._rlegolomb import Compressor, _Reader

_READ_MODES = ("r", "rb")
# Reads larger than this go a piece of this size at a time; with threads, pieces of 16 MiB, so
# that each decoding call gives every thread a share worth the hand-over.
_PIECE = 1 << 20
_THREADED_PIECE = 16 << 20
_WRITE_MODES = ("w", "wb", "x", "xb", "a", "ab")


def _read_all(fileobj):
    """The bytes of a file object from its position on, mapped when it is a file on disk."""
    try:
        fd = fileobj.fileno()
        size = os.fstat(fd).st_size
        start = fileobj.tell()
    except (AttributeError, OSError, io.UnsupportedOperation):
        return fileobj.read()
    if start == 0 and size > 0:
        try:
            return mmap.mmap(fd, 0, access=mmap.ACCESS_READ)
        except (OSError, ValueError):
            pass
    return fileobj.read()


def _index_bytes(index):
    if index is None or isinstance(index, (bytes, bytearray, memoryview)):
        return index
    if isinstance(index, (str, bytes, os.PathLike)):
        with builtins.open(index, "rb") as f:
            return f.read()
    return index.read()


class RLEGolombFile(io.BufferedIOBase):
    """A stream read as its expansion, or written from one. Made by rlegolomb.open()."""

    def __init__(self, file, mode="rb", *, index=None, threads=1, k=None, spacing=None):
        if mode not in _READ_MODES + _WRITE_MODES:
            raise ValueError(f"invalid mode: {mode!r}")
        # Checked before the file is opened: opening it to write truncates it.
        threads = operator.index(threads)
        if threads < 0:
            raise ValueError(f"threads must be >= 0, not {threads}")
        self._piece = _PIECE if threads == 1 else _THREADED_PIECE
        self._reading = mode in _READ_MODES
        if self._reading and k is not None:
            raise ValueError("k is for writing")
        if not self._reading and (index is not None or spacing is not None):
            raise ValueError("index and spacing are for reading")
        self._owned = None
        if isinstance(file, (str, bytes, os.PathLike)):
            raw_mode = mode if mode.endswith("b") else mode + "b"
            self._owned = self._fp = builtins.open(file, raw_mode)
        elif hasattr(file, "read" if self._reading else "write"):
            self._fp = file
        else:
            raise TypeError("file must be a path or a binary file object")
        self._map = None
        self._reader = None
        self._compressor = None
        self._position = 0
        try:
            if self._reading:
                data = _read_all(self._fp)
                if isinstance(data, mmap.mmap):
                    self._map = data
                self._reader = _Reader(data, _index_bytes(index), spacing or 0, threads)
            else:
                self._compressor = Compressor(k, threads=threads)
        except BaseException:
            self._close_files()
            raise

    # -- the file object's face

    def readable(self):
        """True when the file was opened for reading."""
        self._check_open()
        return self._reading

    def writable(self):
        """True when the file was opened for writing."""
        self._check_open()
        return not self._reading

    def seekable(self):
        """True for reading: any offset of the expansion can be sought."""
        self._check_open()
        return self._reading

    def tell(self):
        """The position: bytes of the expansion read (or of input written) so far."""
        self._check_open()
        return self._position

    def seek(self, offset, whence=io.SEEK_SET):
        """Move to offset, from the start (SEEK_SET), the position (SEEK_CUR) or the
        expansion's end (SEEK_END); return the new position. A position past the end reads
        b''."""
        self._check_reading()
        if whence == io.SEEK_SET:
            position = offset
        elif whence == io.SEEK_CUR:
            position = self._position + offset
        elif whence == io.SEEK_END:
            position = self._reader.size() + offset
        else:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if position < 0:
            raise ValueError(f"negative seek position {position}")
        self._reader.seek(position)
        self._position = position
        return position

    def read(self, size=-1):
        """Up to size bytes of the expansion from the position on (all the rest for a
        negative size or None); b'' at the end."""
        self._check_reading()
        if size is not None and 0 <= size <= self._piece:
            data = self._reader.read(size)
        else:
            # The rest, or a large size, a piece at a time: no room larger than what comes.
            parts, got = [], 0
            while size is None or size < 0 or got < size:
                want = self._piece if size is None or size < 0 else min(self._piece, size - got)
                part = self._reader.read(want)
                if not part:
                    break
                parts.append(part)
                got += len(part)
            data = b"".join(parts)
        self._position += len(data)
        return data

    def read1(self, size=-1):
        """The same as read(): every read decodes just what it returns."""
        return self.read(size)

    def readinto(self, buffer):
        """Read into a writable buffer; return the number of bytes read."""
        with memoryview(buffer) as view, view.cast("B") as target:
            data = self.read(len(target))
            target[: len(data)] = data
        return len(data)

    def write(self, data):
        """Compress the bytes of data (a bytes-like object); return their number."""
        self._check_open()
        if self._reading:
            raise io.UnsupportedOperation("not writable")
        with memoryview(data) as view:
            self._fp.write(self._compressor.compress(view))
            self._position += view.nbytes
            return view.nbytes

    def close(self):
        """Write the rest of the stream (writing), and close the file if open() opened it."""
        if self.closed:
            return
        try:
            if self._compressor is not None:
                self._fp.write(self._compressor.flush())
        finally:
            self._close_files()
            super().close()

    # -- the index

    def build_index(self, spacing=None):
        """Make a new index of the stream, a checkpoint every spacing bytes of the expansion
        (None: 1 MiB), and use it for the seeks from now on."""
        self._check_reading()
        self._reader.rebuild_index(spacing or 0)

    def export_index(self, file):
        """Write the index (made now if there is none) to file, a path or a binary file object,
        in the format rlegolomb --index writes and index= reads (docs/FORMAT.md)."""
        self._check_reading()
        saved = self._reader.index()
        if isinstance(file, (str, bytes, os.PathLike)):
            with builtins.open(file, "wb") as f:
                f.write(saved)
        else:
            file.write(saved)

    # -- inside

    def _check_open(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_reading(self):
        self._check_open()
        if not self._reading:
            raise io.UnsupportedOperation("not readable")

    def _close_files(self):
        if self._reader is not None:
            self._reader.release()
            self._reader = None
        if self._map is not None:
            self._map.close()
            self._map = None
        if self._owned is not None:
            self._owned.close()
            self._owned = None


def open(file, mode="rb", *, index=None, threads=1, k=None, spacing=None):  # noqa: A001
    """Open an RLE_Golomb stream as a binary file of its expansion.

    file is a path or a binary file object. Mode "rb" (the default) reads the expansion: read(),
    readinto(), seek() with all three whences, tell(); the stream is held in memory (mapped, for
    a file on disk), the expansion never is. index is an index of the stream (a path, a binary
    file object, or its bytes, as rlegolomb --index and export_index() write it): a seek then
    starts at the checkpoint before the offset. ValueError when it is damaged or of another
    stream. Without one, reading from the start builds one on the way, and a seek that comes
    before it is complete builds it in one pass (spacing: its checkpoints' spacing in bytes,
    None for 1 MiB). build_index(spacing) and export_index(file) make and save one.

    Mode "wb" (also "xb", "ab") writes a stream of the bytes written: with k (0..255) in
    constant memory, as they come; without k, the bytes are held until close(), which chooses
    the k of the smallest stream, as rle-golomb-compress does.

    threads is how many threads may decode (reading) or encode (writing): 1 (the default) the
    calling thread alone, 0 one per processor available, n at most n. The bytes are the same
    for every count; with threads, large reads go 16 MiB at a time, so that each share is worth
    a thread. ValueError for a negative count.

    A band of rows of a packed mask (rows of row_bytes bytes, no header):

        >>> import numpy, rlegolomb
        >>> with rlegolomb.open("mask.rlg", index="mask.rlg.idx") as f:    # doctest: +SKIP
        ...     f.seek(first_row * row_bytes)
        ...     rows = numpy.frombuffer(f.read(count * row_bytes), numpy.uint8)
        ...     band = numpy.unpackbits(rows).reshape(count, -1)[:, :width].astype(bool)
    """
    return RLEGolombFile(file, mode, index=index, threads=threads, k=k, spacing=spacing)
