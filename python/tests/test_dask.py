"""Dask on a cluster of two worker processes: a Zarr array of masks in the codec, read with
from_zarr, reduced (area per chunk and per row) and written back with to_zarr, equal to numpy.
The workers find the codec through its entry point, with no import of their own."""

import logging

import numpy as np
import pytest

from masks import make_mask

zarr = pytest.importorskip("zarr")
numcodecs = pytest.importorskip("numcodecs")
da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
dask = pytest.importorskip("dask")
from rlegolomb.numcodecs import RLEGolomb  # noqa: E402

TIMEOUT = 120  # seconds, for starting the cluster and for the whole computation


@pytest.fixture(scope="module")
def client():
    with dask.config.set({"distributed.comm.timeouts.connect": "60s"}):
        try:
            cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                               dashboard_address=None, silence_logs=logging.ERROR)
        except (OSError, TimeoutError, RuntimeError) as error:
            pytest.skip(f"distributed cannot start worker processes here: {error!r}")
        with cluster, distributed.Client(cluster, timeout=TIMEOUT) as client:
            client.wait_for_workers(2, timeout=TIMEOUT)
            yield client


def test_masks_reduced_and_written_back_on_two_worker_processes(client, tmp_path):
    mask = make_mask(768, 640, seed=11)
    source = str(tmp_path / "masks.zarr")
    z = zarr.open(source, mode="w", shape=mask.shape, chunks=(256, 256), dtype=bool,
                  filters=[numcodecs.PackBits()], compressor=RLEGolomb())
    z[:] = mask

    masks = da.from_zarr(source)
    per_row = masks.sum(axis=1, dtype=np.int64)
    per_chunk = masks.map_blocks(lambda block: np.array([[block.sum()]], dtype=np.int64),
                                 chunks=(1, 1), dtype=np.int64)
    outside = ~masks
    targets = {"rows": per_row, "chunks": per_chunk, "outside": outside}
    stores = []
    for name, array in targets.items():
        filters = [numcodecs.PackBits()] if array.dtype == bool else None
        stores.append(da.to_zarr(array, str(tmp_path / f"{name}.zarr"), compute=False,
                                 filters=filters, compressor=RLEGolomb()))
    futures = client.compute(stores)
    distributed.wait(futures, timeout=TIMEOUT)
    for future in futures:
        future.result()  # raises what a worker raised

    read = {name: zarr.open(str(tmp_path / f"{name}.zarr"), mode="r") for name in targets}
    np.testing.assert_array_equal(read["rows"][:], mask.sum(axis=1))
    chunk_sums = np.array([[mask[i:i + 256, j:j + 256].sum() for j in range(0, 640, 256)]
                           for i in range(0, 768, 256)])
    np.testing.assert_array_equal(read["chunks"][:], chunk_sums)
    np.testing.assert_array_equal(read["outside"][:], ~mask)
    assert read["outside"].compressor == RLEGolomb()
