"""RLE_Golomb streams: runs of equal bits, each run length a Rice code (m = 2**k).

The functions and objects follow Python's compression modules (zlib, bz2, lzma):

    compress(data, k=None) -> bytes            the stream rle-golomb-compress writes
    decompress(data, max_output=None) -> bytes the bytes rle-golomb-expand writes
    expanded_bits(data) -> int                 the exact length of the expansion in bits
    choose_k(data) -> int                      the k that compress(data) uses
    Compressor(k=None), Decompressor(max_output=None)   the same over a stream of pieces;
                                               Decompressor.decompress(data, max_length=-1)
                                               caps each call's result, as bz2 and lzma do
    compress_array(mask, k=None) -> bytes      a numpy mask (bool or integers) as a stream
    decompress_array(data, shape) -> ndarray   a stream as a numpy bool array of that shape
    OutputLimitError                           a ValueError: an expansion past max_output
    open(file, mode="rb", *, index=None, ...)  a stream as a file of its expansion, with seek
                                               through an index (RLEGolombFile)

All of them but expanded_bits and choose_k take a keyword threads=: how many threads may work
on the one stream, 1 (the default, as in Python's own compression modules) for the calling
thread alone, 0 for one per processor available to the process, n for at most n. The results
are the same for every count; threads help streams and pieces of more than a few hundred KiB.

rlegolomb.numcodecs.RLEGolomb is the codec for Zarr arrays (and so for Dask).

Every byte string is a valid stream. Work on large inputs runs with the GIL released, so
threads can compress and decompress at once. numpy is needed only by the two array functions.

    >>> import rlegolomb
    >>> stream = rlegolomb.compress(b"\\x00" * 1000)
    >>> rlegolomb.decompress(stream) == b"\\x00" * 1000
    True
"""

import math as _math
import operator as _operator

from ._rlegolomb import (
    Compressor,
    Decompressor,
    OutputLimitError,
    __version__,
    choose_k,
    compress,
    decompress,
    expanded_bits,
)
from ._rlegolomb import expand_prefix as _expand_prefix
from ._file import RLEGolombFile, open  # noqa: A004 (gzip.open's name)

__all__ = [
    "Compressor",
    "Decompressor",
    "OutputLimitError",
    "RLEGolombFile",
    "__version__",
    "choose_k",
    "compress",
    "compress_array",
    "decompress",
    "decompress_array",
    "expanded_bits",
    "open",
]

for _obj in (Compressor, Decompressor, OutputLimitError):
    _obj.__module__ = __name__
del _obj


def compress_array(mask, k=None, *, threads=1):
    """Compress a mask, a numpy array (or anything numpy.asarray takes), into a stream.

    The array may have any shape (0-d included) and memory order, and a bool or integer
    dtype; a non-zero element is a 1 bit. Its elements are taken in C order (the last index
    varies fastest), whatever its memory order, and packed eight to a byte, most significant
    bit first, as numpy.packbits does: the stream is compress(numpy.packbits(mask), k), and the
    last byte is completed with zero bits. k and threads are as for compress().

    The shape is not stored: give it to decompress_array() to read the mask back.

        >>> mask = numpy.zeros((400, 512), dtype=bool); mask[100:300, 50:450] = True
        >>> stream = rlegolomb.compress_array(mask)
        >>> (rlegolomb.decompress_array(stream, mask.shape) == mask).all()
        True

    Raises TypeError for a dtype that is neither bool nor integer.
    """
    import numpy

    array = numpy.asarray(mask)
    if array.dtype != numpy.bool_ and array.dtype.kind not in "iu":
        raise TypeError(f"the mask must have a bool or integer dtype, not {array.dtype}")
    return compress(numpy.packbits(array, axis=None), k, threads=threads)


def _dimensions(shape):
    try:
        dims = (_operator.index(shape),)
    except TypeError:
        try:
            dims = tuple(shape)
        except TypeError:
            raise TypeError(
                f"shape must be an integer or a sequence of integers, not {type(shape).__name__}"
            ) from None
        for dim in dims:
            if not hasattr(type(dim), "__index__"):
                raise TypeError(f"shape must be made of integers, not {type(dim).__name__}")
        dims = tuple(map(_operator.index, dims))
    if any(dim < 0 for dim in dims):
        raise ValueError(f"negative dimensions are not allowed: {dims}")
    return dims


def decompress_array(data, shape, *, threads=1):
    """Expand the stream data into a numpy array of dtype bool and the given shape.

    shape is an integer or a sequence of integers, as for numpy.empty(); () gives a 0-d array.
    The array is filled in C order from the first prod(shape) bits of the expansion, most
    significant bit of each byte first (numpy.unpackbits' order); bits past those are ignored
    and not even decoded. ValueError when the expansion has fewer bits than the shape needs.
    threads is as for decompress().

    A PBM raster ("P4" image of width w and height h) has each row padded to whole bytes:
    read it as (h, padded) bits with padded = 8 * ((w + 7) // 8) and drop the padding:

        pixels = rlegolomb.decompress_array(stream, (h, 8 * ((w + 7) // 8)))[:, :w]

    where True is black. A stream of a whole PBM file also holds the text header before the
    raster ("P4", the width and the height, each followed by one whitespace byte); expand it
    with decompress(), find the raster's offset after the header, and unpack from there:

        raw = rlegolomb.decompress(stream)
        rows = numpy.frombuffer(raw, numpy.uint8, offset=len(raw) - h * ((w + 7) // 8))
        pixels = numpy.unpackbits(rows.reshape(h, -1), axis=1)[:, :w].astype(bool)

    Raises TypeError for a shape that is not made of integers, ValueError for a negative
    dimension or a negative threads.
    """
    import numpy

    dims = _dimensions(shape)
    count = _math.prod(dims)
    packed = numpy.frombuffer(_expand_prefix(data, count, threads), dtype=numpy.uint8)
    return numpy.unpackbits(packed, count=count).view(numpy.bool_).reshape(dims)
