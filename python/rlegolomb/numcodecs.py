"""A numcodecs codec: RLE_Golomb streams as the chunks of Zarr arrays, read by Dask anywhere.

    import numcodecs, zarr
    from rlegolomb.numcodecs import RLEGolomb

    masks = zarr.open("masks.zarr", mode="w", shape=(4096, 4096), chunks=(1024, 1024),
                      dtype=bool, filters=[numcodecs.PackBits()], compressor=RLEGolomb())

A chunk as stored is a plain stream of the chunk's bytes, which `rlegolomb -d` expands. numpy
keeps a bool in a whole byte, so a mask's runs are long only once its bits are packed: put
numcodecs' PackBits filter before the codec for bool arrays (its first byte holds the count of
padding bits, then numpy.packbits' bytes). Rasters whose rows are already packed (uint8) need no
filter.

The codec registers itself on import, and Zarr finds it by its id without an import through the
`numcodecs.codecs` entry point that the installed package declares: Dask's worker processes
read the arrays with nothing more.
"""

import operator

import numcodecs
from numcodecs.abc import Codec
from numcodecs.compat import ensure_contiguous_ndarray

from ._rlegolomb import compress, decompress, expand_into

__all__ = ["RLEGolomb"]


class RLEGolomb(Codec):
    """Codec of RLE_Golomb streams.

    k is the code's exponent (0..255), or None to choose it per chunk, as compress() does.
    encode(buf) is exactly rlegolomb.compress(bytes(buf), k); decode(buf, out) writes the
    expansion into out when given, which it must fill exactly (ValueError otherwise).
    """

    codec_id = "rlegolomb"

    def __init__(self, k=None):
        if k is not None:
            k = operator.index(k)
            if not 0 <= k <= 255:
                raise ValueError(f"k must be from 0 to 255, not {k}")
        self.k = k

    def encode(self, buf):
        return compress(ensure_contiguous_ndarray(buf), self.k)

    def decode(self, buf, out=None):
        buf = ensure_contiguous_ndarray(buf)
        if out is None:
            return decompress(buf)
        expand_into(buf, ensure_contiguous_ndarray(out))
        return out

    def get_config(self):
        return {"id": self.codec_id, "k": self.k}

    def __repr__(self):
        return f"{type(self).__name__}(k={self.k!r})"


numcodecs.register_codec(RLEGolomb)
