#!/usr/bin/env python3
"""Draws the bundled example picture: the Mandelbrot set over the caption RLE_GOLOMB, as a bilevel
PBM (P4) image written to the path given (standard output if none).

Only the standard library; Python's floats are IEEE doubles, so the picture is the same on every
machine. examples/mandelbrot.rlg is this file compressed with the automatic k:

    python3 examples/make_example.py mandelbrot.pbm
    ./build/rle-golomb-compress mandelbrot.pbm examples/mandelbrot.rlg
"""
import sys

WIDTH, HEIGHT = 512, 400
SET_HEIGHT = 340  # rows of the Mandelbrot set; the caption is drawn below them
MAX_ITERATIONS = 200

# 5x7 glyphs of the caption's letters, one string per row, '#' for black.
GLYPHS = {
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "_": [".....", ".....", ".....", ".....", ".....", ".....", "#####"],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
}
CAPTION = "RLE_GOLOMB"
SCALE = 5  # each glyph pixel becomes SCALE x SCALE pixels


def in_mandelbrot_set(x, y):
    """True when c = cx + i*cy stays bounded for MAX_ITERATIONS steps of z = z*z + c."""
    cx = -2.2 + 3.0 * x / WIDTH
    cy = -1.0 + 2.0 * y / SET_HEIGHT
    zx = zy = 0.0
    for _ in range(MAX_ITERATIONS):
        zx, zy = zx * zx - zy * zy + cx, 2.0 * zx * zy + cy
        if zx * zx + zy * zy > 4.0:
            return False
    return True


def caption_pixels():
    """The black pixels of the caption, centred in the rows below the set."""
    advance = 6 * SCALE  # a glyph and one blank column
    left = (WIDTH - (len(CAPTION) * advance - SCALE)) // 2
    top = SET_HEIGHT + (HEIGHT - SET_HEIGHT - 7 * SCALE) // 2
    black = set()
    for index, letter in enumerate(CAPTION):
        for row, line in enumerate(GLYPHS[letter]):
            for column, mark in enumerate(line):
                if mark == "#":
                    for dy in range(SCALE):
                        for dx in range(SCALE):
                            black.add((left + index * advance + column * SCALE + dx,
                                       top + row * SCALE + dy))
    return black


def main():
    caption = caption_pixels()
    rows = []
    for y in range(HEIGHT):
        row = bytearray(WIDTH // 8)
        for x in range(WIDTH):
            black = in_mandelbrot_set(x, y) if y < SET_HEIGHT else (x, y) in caption
            if black:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    picture = b"P4\n%d %d\n" % (WIDTH, HEIGHT) + b"".join(rows)
    if len(sys.argv) > 1:
        with open(sys.argv[1], "wb") as out:
            out.write(picture)
    else:
        sys.stdout.buffer.write(picture)


if __name__ == "__main__":
    main()
