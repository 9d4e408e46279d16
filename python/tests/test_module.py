"""The module's face: its version, documentation and type stubs."""

import ast
import inspect
import pathlib
import re

import rlegolomb
from conftest import SOURCE_DIR


def test_version_is_the_librarys():
    header = (SOURCE_DIR / "include" / "rlegolomb.h").read_text()
    parts = [re.search(rf"#define RLEGOLOMB_VERSION_{p} (\d+)", header).group(1) for p in ("MAJOR", "MINOR", "PATCH")]
    assert rlegolomb.__version__ == ".".join(parts)


def public_names():
    names = {}
    for name in rlegolomb.__all__:
        obj = getattr(rlegolomb, name)
        names[name] = obj
        if inspect.isclass(obj) and not issubclass(obj, BaseException):
            for member in vars(obj):
                if not member.startswith("_"):
                    names[f"{name}.{member}"] = getattr(obj, member)
    return names


def test_everything_public_has_a_docstring():
    undocumented = [n for n, obj in public_names().items() if n != "__version__" and len((obj.__doc__ or "").strip()) < 20]
    assert not undocumented
    assert "PBM" in rlegolomb.decompress_array.__doc__


def test_the_installed_metadata_is_the_librarys():
    # pip's metadata, or the build tree's copy of it: the version and the codec's entry point.
    from importlib import metadata

    assert metadata.version("rlegolomb") == rlegolomb.__version__
    points = [p for p in metadata.entry_points(group="numcodecs.codecs") if p.name == "rlegolomb"]
    assert [p.value for p in points] == ["rlegolomb.numcodecs:RLEGolomb"]


def test_the_stub_declares_what_the_module_has():
    stub = ast.parse((pathlib.Path(rlegolomb.__file__).parent / "__init__.pyi").read_text())
    declared = set()
    for node in stub.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            declared.add(node.name)
            if isinstance(node, ast.ClassDef):
                declared |= {f"{node.name}.{f.name}" for f in node.body if isinstance(f, ast.FunctionDef) and not f.name.startswith("_")}
        elif isinstance(node, ast.AnnAssign):
            declared.add(node.target.id)
    assert declared == set(public_names())
    assert (pathlib.Path(rlegolomb.__file__).parent / "py.typed").exists()


def test_signatures_are_readable():
    assert str(inspect.signature(rlegolomb.compress)) == "(data, /, k=None, *, threads=1)"
    assert str(inspect.signature(rlegolomb.decompress)) == "(data, /, max_output=None, *, threads=1)"
    assert str(inspect.signature(rlegolomb.Decompressor)) == "(max_output=None, *, threads=1)"
    assert str(inspect.signature(rlegolomb.Decompressor.decompress)) == "(self, data, /, max_length=-1)"
    assert str(inspect.signature(rlegolomb.Compressor)) == "(k=None, *, threads=1)"
    assert str(inspect.signature(rlegolomb.compress_array)) == "(mask, k=None, *, threads=1)"
    assert str(inspect.signature(rlegolomb.decompress_array)) == "(data, shape, *, threads=1)"


def test_the_docstring_examples_run():
    import doctest

    import numpy

    failures, tried = doctest.testmod(rlegolomb, extraglobs={"numpy": numpy, "rlegolomb": rlegolomb})
    assert tried >= 4 and failures == 0
