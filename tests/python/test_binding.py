"""The binding layer shared by every class: arrays in and out, borrows, bad input."""
import gc
import sys

import numpy as np
import pytest

import vornex_decoder_v3 as vx

CHECKS = [[0, 1], [1, 2], [2, 3]]


@pytest.fixture
def uf():
    return vx.UnionFindDecoder(CHECKS, None)


def test_results_are_fresh_owned_c_contiguous_arrays(uf):
    a = uf.decode(np.array([1, 0, 0], dtype=np.uint8))
    b = uf.decode(np.array([1, 0, 0], dtype=np.uint8))
    for out in (a, b):
        assert out.dtype == np.uint8 and out.ndim == 1 and out.shape == (4,)
        assert out.flags.c_contiguous and out.flags.writeable and out.flags.aligned
    assert not np.shares_memory(a, b)
    a[:] = 7  # owned by the caller: writing is allowed and does not leak into later results
    assert uf.decode(np.array([1, 0, 0], dtype=np.uint8)).tolist() == b.tolist()
    batch = uf.batch_decode(np.zeros((3, 3), dtype=np.uint8))
    assert batch.shape == (3, 4) and batch.flags.c_contiguous and batch.flags.writeable


def test_result_buffers_outlive_their_decoder():
    decoder = vx.UnionFindDecoder(CHECKS, None)
    out = decoder.batch_decode(np.eye(3, dtype=np.uint8))
    expected = out.copy()
    del decoder
    gc.collect()
    assert out.tolist() == expected.tolist()
    view = out[1:]
    del out
    gc.collect()
    assert view.tolist() == expected[1:].tolist()


def test_inputs_are_read_in_place_and_never_written(uf):
    syndromes = np.array([[1, 0, 0], [0, 1, 1]], dtype=np.uint8)
    syndromes.flags.writeable = False
    assert uf.batch_decode(syndromes).shape == (2, 4)
    assert syndromes.tolist() == [[1, 0, 0], [0, 1, 1]]


def test_fortran_ordered_batches_are_read_as_the_caller_sees_them(uf):
    rng = np.random.default_rng(3)
    c_order = rng.integers(0, 2, (50, 3), dtype=np.uint8)
    f_order = np.asfortranarray(c_order)
    assert not f_order.flags.c_contiguous
    assert uf.batch_decode(f_order).tolist() == uf.batch_decode(c_order).tolist()


@pytest.mark.parametrize(
    "bad",
    [
        [1, 0, 0],
        (1, 0, 0),
        b"\x01\x00\x00",
        np.array([1, 0, 0], dtype=np.int64),
        np.array([1, 0, 0], dtype=np.int8),
        np.array([True, False, False]),
        np.array([[1, 0, 0]], dtype=np.uint8),
        np.uint8(1),
        None,
    ],
)
def test_wrong_syndrome_kinds_raise_type_error(uf, bad):
    with pytest.raises(TypeError, match="syndrome"):
        uf.decode(bad)


def test_misaligned_and_strided_arrays_raise_value_error(uf):
    with pytest.raises(ValueError, match=r"^Invalid syndrome array: The given array is not contiguous or is misaligned\.$"):
        uf.decode(np.zeros(6, dtype=np.uint8)[::2])
    with pytest.raises(ValueError, match=r"^Invalid syndromes array: The given array is not contiguous"):
        uf.batch_decode(np.zeros((4, 6), dtype=np.uint8)[:, ::2])


def test_zero_dimensional_and_huge_arrays_do_not_crash(uf):
    with pytest.raises(ValueError):
        uf.batch_decode(np.array(1, dtype=np.uint8))
    with pytest.raises(ValueError):
        uf.batch_decode(np.zeros((2, 3, 1), dtype=np.uint8))
    empty = np.zeros((0, 3), dtype=np.uint8)
    assert uf.batch_decode(empty).shape == (0, 4)


def test_borrow_guard_refuses_reentrant_calls():
    table = vx.LookupTableDecoder(CHECKS, None)
    syndrome = np.array([1, 0, 0], dtype=np.uint8)
    seen = []

    class ReadsDuringWrite:
        def __index__(self):
            try:
                table.decode(syndrome)
            except RuntimeError as e:
                seen.append(str(e))
            return 4

    class WritesDuringWrite:
        def __index__(self):
            try:
                table.build_table(1)
            except RuntimeError as e:
                seen.append(str(e))
            return 4

    table.build_table(ReadsDuringWrite())
    table.build_table(WritesDuringWrite())
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    # The guard is released again after each call, failed or not.
    table.build_table(2)
    assert table.decode(syndrome).tolist() == vx.UnionFindDecoder(CHECKS, None).decode(syndrome).tolist()


def test_constructor_signatures_and_keywords():
    assert vx.UnionFindDecoder.__text_signature__ == "(check_to_qubits, n_qubits)"
    assert vx.UnionFindDecoder.decode.__text_signature__ == "($self, syndrome)"
    d = vx.UnionFindDecoder(n_qubits=5, check_to_qubits=[[0, 1]])
    assert (d.n_qubits, d.n_checks) == (5, 1)
    with pytest.raises(TypeError, match=r"missing required argument 'n_qubits'"):
        vx.UnionFindDecoder([[0, 1]])
    with pytest.raises(AttributeError):
        d.n_qubits = 3


@pytest.mark.parametrize(
    "n_qubits, exc",
    [(-1, OverflowError), (2**64, OverflowError), (2**80, OverflowError), ("5", TypeError), (5.0, TypeError)],
)
def test_n_qubits_conversion(n_qubits, exc):
    with pytest.raises(exc):
        vx.UnionFindDecoder([[0, 1]], n_qubits)


def test_array_conversion_failures_name_the_parameter(uf):
    with pytest.raises(TypeError) as info:
        uf.decode([1, 0, 0])
    assert info.value.__notes__ == ["while processing 'syndrome'"]


def test_impossible_sizes_are_memory_errors_not_panics():
    # A container asked for more than it can ever hold is reported as
    # MemoryError at the boundary, whichever decoder asked.
    with pytest.raises(MemoryError):
        vx.SparseBlossomDecoder([[0, 1]], 2**64 - 1)


def test_core_failures_reach_python_as_their_kind_with_the_core_text():
    # The surface listing shows this for every class with a core refusal among
    # its malformed calls; these classes have none there. The texts themselves
    # are asserted in the native tests of the units that produce them.
    graph = vx.DetectorGraph([[0, 1], [1, 2]], [1, 0])
    cases = [
        (ValueError, "distance must be >= 1", lambda: vx.RotatedSurfaceCode(0)),
        (ValueError, "n_samples must be >= 1", lambda: vx.BenchmarkSuite([[0, 1]], None, 0, None)),
        (ValueError, "Graph node feature width 10 != node_feat_dim 9",
         lambda: vx.GNNPredecoder(9, 8, 3, 1).forward(graph)),
        (RuntimeError, "IO error: Invalid argument",
         lambda: vx.GNNPredecoder(10, 8, 3, 1).load_weights("weights\0.safetensors")),
        (ValueError, "n_epochs must be <= 100000000, got 2147483648",
         lambda: vx.GNNTrainer([[0, 1], [1, 2]], 3, 0.1).train(vx.GNNPredecoder(10, 8, 4, 1), 10, 2**31)),
    ]
    for exception_type, text, call in cases:
        with pytest.raises(exception_type) as info:
            call()
        assert type(info.value) is exception_type and str(info.value) == text
