"""The installed wheel: what it ships beside the module (stubs, licence, C
header and library) and the oneTBB runtime it loads. Skipped when the module
is imported from a build tree rather than installed."""
import ctypes
import importlib.metadata
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import vornex_decoder_v3 as vx

ROOT = pathlib.Path(__file__).resolve().parents[2]


def installed_files():
    try:
        dist = importlib.metadata.distribution("vornex_decoder_v3")
    except importlib.metadata.PackageNotFoundError:
        return None
    files = {pathlib.Path(dist.locate_file(f)).resolve(): f for f in dist.files or []}
    return (dist, files) if pathlib.Path(vx.__file__).resolve() in files else None


INSTALLED = installed_files()
pytestmark = pytest.mark.skipif(INSTALLED is None, reason="module not imported from an installed wheel")


def shipped(suffix):
    dist, files = INSTALLED
    found = [path for path, f in files.items() if ("/" + str(f).replace(os.sep, "/")).endswith(suffix)]
    assert len(found) == 1, suffix
    return found[0]


def test_metadata_names_the_licence():
    dist, _ = INSTALLED
    assert dist.metadata["License-Expression"] == "Apache-2.0"
    assert shipped("/LICENSE").read_text().startswith("                                 Apache License")


def test_stubs_lie_beside_the_module():
    assert shipped("vornex_decoder_v3.pyi").parent == pathlib.Path(vx.__file__).resolve().parent


def test_c_library_exports_the_interface():
    library = ctypes.CDLL(str(shipped("/libvornex_c.so")))
    for name in ("vornex_fast_decoder_create", "vornex_decode_fast", "vornex_decode_fast_batch",
                 "vornex_fast_decoder_free"):
        assert hasattr(library, name), name


@pytest.mark.skipif(shutil.which("cc") is None, reason="needs a C compiler")
def test_c_program_builds_against_the_shipped_header_and_library(tmp_path):
    header, library = shipped("/vornex_uf.h"), shipped("/libvornex_c.so")
    (tmp_path / "uf").mkdir()
    shutil.copy(header, tmp_path / "uf" / "vornex_uf.h")
    program = tmp_path / "c_api"
    subprocess.run(["cc", "-std=c11", "-I", str(tmp_path), str(ROOT / "tests/native/uf_c_api_test.c"),
                    "-L", str(library.parent), "-lvornex_c", f"-Wl,-rpath,{library.parent}", "-o", str(program)],
                   check=True)
    done = subprocess.run([str(program)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


def test_module_loads_the_tbb_runtime_it_depends_on():
    tbb = importlib.metadata.distribution("tbb")
    runtime = next(pathlib.Path(tbb.locate_file(f)).resolve() for f in tbb.files if f.name == "libtbb.so.12")
    script = ("import numpy as np, vornex_decoder_v3 as vx\n"
              "c, n = vx.py_generate_repetition_code_checks(9)\n"
              "vx.UnionFindDecoder(c, n).batch_decode(np.zeros((1000, 8), np.uint8))\n"
              "print('\\n'.join(line.split()[-1] for line in open('/proc/self/maps') if 'libtbb.so' in line))\n")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert {pathlib.Path(p).resolve() for p in done.stdout.split()} == {runtime}
