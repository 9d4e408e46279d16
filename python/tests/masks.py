"""Masks as segmentation tools and scanners make them, for the Zarr and Dask tests and for
bench/zarr_bench.py: ellipses, rotated rectangles and rings, an organic region with a ragged
border, thin strokes and scattered specks, different in every region (no repeated tile)."""

import numpy as np


def make_mask(height, width, seed=0):
    rng = np.random.default_rng(seed)
    mask = np.zeros((height, width), dtype=bool)
    scale = min(height, width)
    for _ in range(max(4, height * width // 400_000)):
        cy, cx = rng.uniform(0, height), rng.uniform(0, width)
        ry, rx = rng.uniform(0.02, 0.12, 2) * scale
        angle = rng.uniform(0, np.pi)
        # Only the shape's bounding square is computed.
        reach = int(1.5 * max(rx, ry)) + 1
        top, left = max(0, int(cy) - reach), max(0, int(cx) - reach)
        bottom, right = min(height, int(cy) + reach), min(width, int(cx) + reach)
        y, x = np.mgrid[top:bottom, left:right].astype(np.float32)
        u = (x - cx) * np.cos(angle) + (y - cy) * np.sin(angle)
        v = -(x - cx) * np.sin(angle) + (y - cy) * np.cos(angle)
        window = mask[top:bottom, left:right]
        shape = rng.integers(3)
        if shape == 0:  # an ellipse
            window |= (u / rx) ** 2 + (v / ry) ** 2 < 1
        elif shape == 1:  # a rotated rectangle
            window |= (np.abs(u) < rx) & (np.abs(v) < ry)
        else:  # a ring
            r = np.hypot(u, v)
            window ^= (r < rx) & (r > 0.7 * rx)
    # An organic region: smooth waves thresholded, its border roughened by noise.
    y = np.arange(height, dtype=np.float32)[:, None]
    x = np.arange(width, dtype=np.float32)[None, :]
    field = rng.normal(0, 0.15, (height, width)).astype(np.float32)
    for _ in range(6):
        fy, fx = rng.uniform(1, 6, 2) / scale
        field += np.sin(2 * np.pi * (fy * y + fx * x) + rng.uniform(0, 2 * np.pi)).astype(np.float32)
    mask |= field > 2.2
    # Thin strokes, as of text or vessels, and specks.
    for _ in range(max(8, height * width // 200_000)):
        x0, x1 = rng.uniform(0, width, 2)
        y0, y1 = rng.uniform(0, height, 2)
        t = np.linspace(0, 1, int(np.hypot(x1 - x0, y1 - y0)) + 1)
        rows = np.clip((y0 + t * (y1 - y0)).astype(int), 0, height - 2)
        cols = np.clip((x0 + t * (x1 - x0)).astype(int), 0, width - 2)
        mask[rows, cols] = mask[rows + 1, cols] = True
    mask[rng.random((height, width)) < 2e-4] = True
    return mask
