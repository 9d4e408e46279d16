"""The module against the two programs: compress() writes rle-golomb-compress's stream and
decompress() rle-golomb-expand's bytes, for every class of k."""

import pytest

import rlegolomb
from conftest import INPUTS, KS, STREAMS


@pytest.mark.parametrize("k", KS)
@pytest.mark.parametrize("name", INPUTS)
def test_compress_is_the_programs_stream(name, k, program_compress):
    data = INPUTS[name]
    stream = rlegolomb.compress(data, k)
    assert stream == program_compress(data, k)
    assert rlegolomb.decompress(stream) == data
    assert rlegolomb.expanded_bits(stream) == 8 * len(data)
    if k is None:
        assert stream[0] == rlegolomb.choose_k(data) < 64


@pytest.mark.parametrize("name", STREAMS)
def test_decompress_is_the_expanders_output(name, program_expand):
    stream, bits = STREAMS[name]
    expanded = rlegolomb.decompress(stream)
    assert expanded == program_expand(stream)
    if bits is not None:
        assert rlegolomb.expanded_bits(stream) == bits
    assert len(expanded) == (rlegolomb.expanded_bits(stream) + 7) // 8


def test_the_example_picture_compresses_back_to_its_file():
    stream = STREAMS["mandelbrot"][0]
    assert rlegolomb.compress(rlegolomb.decompress(stream)) == stream
