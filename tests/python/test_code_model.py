"""Code descriptions: argument conversion, the edge list and the generators."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx

OUT_OF_RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize(
    "bad, exc, text",
    [
        ("ab", TypeError, "Can't extract `str` to `Vec`"),
        (["ab"], TypeError, "Can't extract `str` to `Vec`"),
        ([[0, -1]], OverflowError, OUT_OF_RANGE),
        ([[2**32]], OverflowError, OUT_OF_RANGE),
        ([[2**200]], OverflowError, OUT_OF_RANGE),
        ([[-(2**200)]], OverflowError, OUT_OF_RANGE),
        (5, TypeError, "'int' object cannot be converted to 'Sequence'"),
        ([5], TypeError, "'int' object cannot be converted to 'Sequence'"),
        ([[None]], TypeError, "'NoneType' object cannot be interpreted as an integer"),
        ([[1.0]], TypeError, "'float' object cannot be interpreted as an integer"),
        ({0: 1}, TypeError, "'dict' object cannot be converted to 'Sequence'"),
    ],
)
def test_check_list_conversion_errors(bad, exc, text):
    with pytest.raises(exc) as info:
        vx.py_check_to_edges(bad)
    assert type(info.value) is exc
    assert str(info.value) == text


def test_check_list_accepts_any_sequences_of_ints():
    assert vx.py_check_to_edges(((0, 1), [2, 3])) == [(0, 1), (2, 3)]
    assert vx.py_check_to_edges([np.array([4, 5, 6], dtype=np.int64)]) == [(4, 5), (5, 6)]
    assert vx.py_check_to_edges([range(3)]) == [(0, 1), (1, 2)]
    assert vx.py_check_to_edges([[2**32 - 1, 0]]) == [(2**32 - 1, 0)]


def test_edge_list_examples():
    assert vx.py_check_to_edges([[0, 1, 2], [3], [4, 5]]) == [(0, 1), (1, 2), (4, 5)]
    assert vx.py_check_to_edges([]) == []
    assert vx.py_check_to_edges([[], []]) == []


def test_surface_layout():
    checks, n = vx.py_generate_surface_code_checks(3)
    assert n == 9 and len(checks) == 18
    assert checks[0] == [0, 1, 3, 4]
    assert checks[9] == [0, 2, 6, 8]
    checks2, n2 = vx.py_generate_surface_code_checks(2)
    assert n2 == 4 and len(checks2) == 8
    assert checks2[0] == [0, 1, 2, 3] and checks2[4] == [0, 1, 2, 3]
    for d in (0, 1):
        with pytest.raises(ValueError):
            vx.py_generate_surface_code_checks(d)


def test_small_layouts():
    assert vx.py_generate_repetition_code_checks(3) == ([[0, 1], [1, 2]], 3)
    assert vx.py_generate_repetition_code_checks(1) == ([], 1)
    assert vx.py_generate_repetition_code_checks(0) == ([], 0)
    assert vx.py_generate_ring_code_checks(2) == ([[0, 1], [1, 2], [2, 3], [3, 0]], 4)
    assert vx.py_generate_ring_code_checks(0) == ([], 0)
    toy, n = vx.py_generate_toy_code_checks(2)
    assert n == 4 and len(toy) == 8 and toy[:4] == toy[4:]
    assert vx.py_generate_toy_code_checks(0) == ([], 0)
    assert vx.py_generate_toy_code_checks(1) == ([[0, 0, 0, 0], [0, 0, 0, 0]], 1)


@pytest.mark.parametrize("fn", [vx.py_generate_surface_code_checks, vx.py_generate_toy_code_checks,
                                vx.py_generate_ring_code_checks, vx.py_generate_repetition_code_checks])
def test_distance_conversion(fn):
    with pytest.raises(OverflowError, match=OUT_OF_RANGE):
        fn(-1)
    with pytest.raises(OverflowError, match=OUT_OF_RANGE):
        fn(2**32)
    with pytest.raises(TypeError):
        fn("3")
    with pytest.raises(TypeError):
        fn(3.0)


def test_grid_layouts_refuse_distances_whose_square_overflows():
    for fn in (vx.py_generate_surface_code_checks, vx.py_generate_toy_code_checks,
               vx.py_generate_ring_code_checks):
        with pytest.raises(ValueError):
            fn(65536)


def test_layouts_beyond_memory_are_refused_up_front():
    # Up front: these would take minutes and gigabytes before failing.
    with pytest.raises(MemoryError):
        vx.py_generate_repetition_code_checks(10**9)
    for fn in (vx.py_generate_surface_code_checks, vx.py_generate_toy_code_checks,
               vx.py_generate_ring_code_checks):
        with pytest.raises(MemoryError):
            fn(65535)
