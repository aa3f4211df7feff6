"""The C interface as exported by the extension module's shared object."""
import ctypes

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import rotated_sector_top_bottom
from test_union_find_helpers import syndromes

u8p = ctypes.POINTER(ctypes.c_uint8)


@pytest.fixture(scope="module")
def lib():
    so = ctypes.CDLL(vx.__file__)
    so.vornex_fast_decoder_create.restype = ctypes.c_void_p
    so.vornex_fast_decoder_create.argtypes = [ctypes.POINTER(ctypes.c_uint32), ctypes.c_size_t,
                                              ctypes.c_size_t, ctypes.c_size_t]
    so.vornex_fast_decoder_free.restype = None
    so.vornex_fast_decoder_free.argtypes = [ctypes.c_void_p]
    so.vornex_decode_fast.restype = ctypes.c_int32
    so.vornex_decode_fast.argtypes = [ctypes.c_void_p, u8p, ctypes.c_size_t, u8p, ctypes.c_size_t]
    so.vornex_decode_fast_batch.restype = ctypes.c_int32
    so.vornex_decode_fast_batch.argtypes = [ctypes.c_void_p, u8p, ctypes.c_size_t, u8p]
    return so


def ptr(array):
    return array.ctypes.data_as(u8p)


def create(lib, flat, n_checks, weight, n_qubits):
    arr = np.ascontiguousarray(flat, dtype=np.uint32)
    return lib.vornex_fast_decoder_create(arr.ctypes.data_as(ctypes.POINTER(ctypes.c_uint32)),
                                          n_checks, weight, n_qubits)


def test_exported_functions_match_the_python_class(lib):
    # Ring code: every check has weight 2, as the C interface requires.
    checks, n_qubits = vx.py_generate_ring_code_checks(5)
    handle = create(lib, [q for c in checks for q in c], len(checks), 2, n_qubits)
    assert handle
    try:
        rng = np.random.default_rng(3)
        batch = (rng.random((1000, len(checks))) < 0.1).astype(np.uint8)
        want = vx.UnionFindDecoder(checks, n_qubits).batch_decode(batch)
        out = np.full((1000, n_qubits), 7, dtype=np.uint8)
        assert lib.vornex_decode_fast_batch(handle, ptr(batch), 1000, ptr(out)) == 0
        assert np.array_equal(out, want)
        one = np.full(n_qubits, 7, dtype=np.uint8)
        for i in range(0, 1000, 37):
            assert lib.vornex_decode_fast(handle, ptr(batch[i]), len(checks), ptr(one), n_qubits) == 0
            assert np.array_equal(one, want[i])
    finally:
        lib.vornex_fast_decoder_free(handle)


def test_rejections_leave_buffers_untouched(lib):
    handle = create(lib, [0, 1, 1, 2], 2, 2, 3)
    assert handle
    syn = np.array([1, 0, 1], dtype=np.uint8)
    out = np.full(4, 9, dtype=np.uint8)
    assert lib.vornex_decode_fast(handle, ptr(syn), 1, ptr(out), 3) == -1
    assert lib.vornex_decode_fast(handle, ptr(syn), 2, ptr(out), 4) == -1
    assert lib.vornex_decode_fast(None, ptr(syn), 2, ptr(out), 3) == -1
    assert lib.vornex_decode_fast_batch(handle, None, 1, ptr(out)) == -1
    assert out.tolist() == [9] * 4
    assert lib.vornex_decode_fast(handle, ptr(syn), 2, ptr(out), 3) == 0
    assert out[:3].tolist() == [1, 0, 0]
    lib.vornex_fast_decoder_free(handle)
    lib.vornex_fast_decoder_free(None)
    for flat, n_checks, weight, n_qubits in [([0, 1, 1, 3], 2, 2, 3), ([0, 1, 1, 2, 1, 3], 3, 2, 4),
                                             ([0, 2**32 - 1], 1, 2, 5), ([0, 1], 0, 2, 3), ([0, 1], 2, 0, 3)]:
        assert not create(lib, flat, n_checks, weight, n_qubits)


def test_fast_decoder_matches_union_find_decoder():
    rng = np.random.default_rng(11)
    checks, n_qubits = rotated_sector_top_bottom(11)
    batch = syndromes(rng, checks, n_qubits, 300, p=0.07)
    fast, ref = vx.FastUnionFindDecoder(checks, n_qubits), vx.UnionFindDecoder(checks, n_qubits)
    assert np.array_equal(fast.batch_decode(batch), ref.batch_decode(batch))
    for row in batch[:50]:
        assert np.array_equal(fast.decode(row), ref.decode(row))
