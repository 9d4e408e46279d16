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

    threads is how many threads each chunk is encoded and decoded on, as for compress() (1, the
    default; 0: one per processor). It changes no byte; the config names it only when it is not
    1, so that arrays written with the default have the config they always had. Dask already
    works on several chunks at once: threads help large chunks read one at a time.
    """

    codec_id = "rlegolomb"

    def __init__(self, k=None, threads=1):
        if k is not None:
            k = operator.index(k)
            if not 0 <= k <= 255:
                raise ValueError(f"k must be from 0 to 255, not {k}")
        threads = operator.index(threads)
        if threads < 0:
            raise ValueError(f"threads must be >= 0, not {threads}")
        self.k = k
        self.threads = threads

    def encode(self, buf):
        return compress(ensure_contiguous_ndarray(buf), self.k, threads=self.threads)

    def decode(self, buf, out=None):
        buf = ensure_contiguous_ndarray(buf)
        if out is None:
            return decompress(buf, threads=self.threads)
        expand_into(buf, ensure_contiguous_ndarray(out), self.threads)
        return out

    def get_config(self):
        config = {"id": self.codec_id, "k": self.k}
        if self.threads != 1:
            config["threads"] = self.threads
        return config

    def __repr__(self):
        threads = "" if self.threads == 1 else f", threads={self.threads!r}"
        return f"{type(self).__name__}(k={self.k!r}{threads})"


numcodecs.register_codec(RLEGolomb)
