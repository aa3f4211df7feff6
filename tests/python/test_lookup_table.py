"""LookupTableDecoder: always the Union-Find correction, table sizes, keys, messages."""
import itertools

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import NOT_CONTIGUOUS, error_text


def chain(n_qubits):
    return [[i, i + 1] for i in range(n_qubits - 1)]


def every_syndrome(n_checks, rng):
    """All 0/1 syndromes, then the same with 1 written as 3 and 0 as 2 at random."""
    plain = np.array(list(itertools.product([0, 1], repeat=n_checks)), dtype=np.uint8)
    odd = plain + 2 * rng.integers(0, 2, plain.shape, dtype=np.uint8)
    return np.concatenate([plain, odd])


def test_equals_union_find_before_and_after_building():
    rng = np.random.default_rng(8)
    codes = [(chain(7), None), (vx.py_generate_ring_code_checks(2)[0], None),
             ([[0, 1], [1, 2], [3], [2, 3], [4, 0]], 7), ([[0, 0], [1, 2], [2]], None)]
    for checks, n_qubits in codes:
        table = vx.LookupTableDecoder(checks, n_qubits)
        uf = vx.UnionFindDecoder(checks, n_qubits)
        batch = every_syndrome(len(checks), rng)
        want = uf.batch_decode(batch)
        for max_entries in (None, 3, 10**6):
            if max_entries is not None:
                table.build_table(max_entries)
            assert np.array_equal(table.batch_decode(batch), want)
            for row, expected in zip(batch, want):
                assert np.array_equal(table.decode(row), expected), (checks, row)


def test_fired_byte_three_finds_its_own_entry():
    table = vx.LookupTableDecoder(chain(4), None)
    table.build_table(16)
    uf = vx.UnionFindDecoder(chain(4), None)
    for s in ([3, 0, 0], [2, 3, 0], [3, 3, 3], [2, 2, 2]):
        s = np.array(s, dtype=np.uint8)
        assert np.array_equal(table.decode(s), uf.decode(s))


def test_table_sizes():
    t3 = vx.LookupTableDecoder([[0, 1], [1, 2]], None)
    assert t3.table_size == 0
    t3.build_table(0)
    assert t3.table_size == 0
    t3.build_table(100)  # patterns 0..7 give 4 distinct syndromes
    assert t3.table_size == 4

    t24 = vx.LookupTableDecoder(chain(24), None)
    t24.build_table(4)  # binary order: 0, q0, q1, q0+q1 -> 4 syndromes
    assert t24.table_size == 4

    t25 = vx.LookupTableDecoder(chain(25), None)
    t25.build_table(0)
    assert t25.table_size == 1
    t25.build_table(26)  # zero and all 25 single flips: all distinct
    assert t25.table_size == 26
    t25.build_table(27)  # adds the pair (0, 1), whose syndrome is new
    assert t25.table_size == 27

    # 70 qubits, 69 checks: every pattern of weight <= 2 has its own syndrome.
    t70 = vx.LookupTableDecoder(chain(70), None)
    t70.build_table(1 + 70 + 70 * 69 // 2)
    assert t70.table_size == 1 + 70 + 70 * 69 // 2


def test_byte_keys_above_sixty_four_checks():
    checks = chain(70)
    table = vx.LookupTableDecoder(checks, None)
    uf = vx.UnionFindDecoder(checks, None)
    table.build_table(71)
    rng = np.random.default_rng(2)
    for _ in range(200):
        s = np.zeros(69, np.uint8)
        s[0] = 1
        s[rng.integers(64, 69, 2)] = rng.integers(0, 4, 2)
        assert np.array_equal(table.decode(s), uf.decode(s))


def test_signatures_and_docstrings():
    cls = vx.LookupTableDecoder
    assert cls.__text_signature__ == "(check_to_qubits, n_qubits)"
    assert cls.build_table.__doc__ == "Build the lookup table by enumerating errors up to `max_entries`."
    assert cls.decode.__doc__ == "Decode a single syndrome (NumPy array)."
    assert cls.batch_decode.__doc__ == "Batch decode (NumPy 2D array, shape (batch, n_checks))."
    assert cls.build_table.__text_signature__ == "($self, max_entries, *, progress=None)"
    t = cls([[0, 1]], 5)
    assert (t.n_qubits, t.n_checks) == (5, 1)


def test_errors():
    with pytest.raises(ValueError):
        vx.LookupTableDecoder([], None)
    with pytest.raises(ValueError):
        vx.LookupTableDecoder([[0], [0], [0]], None)
    t = vx.LookupTableDecoder([[0, 1], [1, 2]], None)
    with pytest.raises(ValueError):
        t.decode(np.zeros(3, np.uint8))
    with pytest.raises(ValueError):
        t.decode(np.zeros(0, np.uint8))
    assert error_text(ValueError, lambda: t.decode(np.zeros(4, np.uint8)[::2])) == (
        "Invalid syndrome: " + NOT_CONTIGUOUS)
    assert error_text(ValueError, lambda: t.batch_decode(np.zeros((2, 4), np.uint8)[:, ::2])) == (
        "Invalid syndromes: " + NOT_CONTIGUOUS)
    for shape in ((2,), (3, 3), (1, 1, 2)):
        with pytest.raises(ValueError):
            t.batch_decode(np.zeros(shape, np.uint8))
    assert t.batch_decode(np.zeros((0, 2), np.uint8)).shape == (0, 3)
    with pytest.raises(OverflowError):
        t.build_table(-1)
    with pytest.raises(TypeError):
        t.decode([0, 1])
