"""SparseBlossomDecoder: consistent corrections, weight overrides, borrows, errors."""

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import error_text, rotated_sector_left_right, syndrome_of
from test_blossom_codes import assert_batch_rows_equal_single_decodes, reproduces


def u8(values):
    return np.array(values, dtype=np.uint8)


def test_corrections_reproduce_every_reachable_syndrome():
    rng = np.random.default_rng(11)
    surface, n_surface = vx.py_generate_surface_code_checks(3)
    ring, n_ring = vx.py_generate_ring_code_checks(3)
    split = [[0, 1], [1, 2], [10, 11], [11, 12], [12, 10]]  # a chain and a ring without boundary
    codes = [rotated_sector_left_right(7), (surface, n_surface), (ring, n_ring), (split, 13)]
    for checks, nq in codes:
        dec = vx.SparseBlossomDecoder(checks, nq)
        for _ in range(120):
            s = syndrome_of(checks, (rng.random(nq) < rng.uniform(0, 0.3)).astype(np.uint8))
            assert reproduces(checks, nq, s, dec.decode(s))
            weights = [(int(q), float(w)) for q, w in zip(rng.integers(0, nq, 5), rng.uniform(-1, 3000, 5))]
            assert reproduces(checks, nq, s, dec.decode_with_weights(s, weights))


def test_small_cases_match_the_weighted_decoder():
    checks = [[0, 1], [1, 2], [2, 3]]
    dec = vx.SparseBlossomDecoder(checks, None)
    blossom = vx.BlossomDecoder(checks, None, None)
    assert dec.n_qubits == 4 and dec.n_checks == 3
    assert dec.decode(u8([0, 0, 0])).tolist() == [0, 0, 0, 0]
    # A single defect meets only the boundary vertex: nothing is flipped and
    # the weighted decoder's answer is returned.
    for s in ([1, 0, 0], [0, 1, 0], [0, 0, 1]):
        assert dec.decode(u8(s)).tolist() == blossom.decode(u8(s)).tolist()
    assert dec.decode_with_weights(u8([1, 1, 0]), []).tolist() == dec.decode(u8([1, 1, 0])).tolist()


def test_weight_overrides_last_only_one_call():
    checks, n_qubits = rotated_sector_left_right(5)
    dec = vx.SparseBlossomDecoder(checks, n_qubits)
    rng = np.random.default_rng(2)
    rows = [syndrome_of(checks, (rng.random(25) < 0.15).astype(np.uint8)) for _ in range(30)]
    plain = [dec.decode(s).tolist() for s in rows]
    for s in rows:
        dec.decode_with_weights(s, [(q, 0.001) for q in range(25)] + [(3, 2000.0), (3, 4.0)])
    assert [dec.decode(s).tolist() for s in rows] == plain
    assert dec.batch_decode(np.array(rows)).tolist() == plain


class Reentrant:
    """A weight whose conversion calls back into the decoder while it is held."""

    def __init__(self, call):
        self.call = call
        self.error = None

    def __float__(self):
        try:
            self.call()
        except RuntimeError as e:
            self.error = str(e)
        return 1.0


def test_decode_with_weights_holds_the_decoder_exclusively():
    dec = vx.SparseBlossomDecoder([[0, 1], [1, 2]], None)
    s = u8([1, 1])
    shared = Reentrant(lambda: dec.decode(s))
    dec.decode_with_weights(s, [(0, shared)])
    assert shared.error == "Already mutably borrowed"
    exclusive = Reentrant(lambda: dec.decode_with_weights(s, []))
    dec.decode_with_weights(s, [(0, exclusive)])
    assert exclusive.error == "Already borrowed"
    assert dec.decode(s).tolist() == [0, 1, 0]  # nothing left held


def test_batch_rows_equal_single_decodes_with_one_and_two_workers():
    assert_batch_rows_equal_single_decodes("vx.SparseBlossomDecoder(checks, 81)", distance=9, seed=9,
                                           p_max=0.3, n_rows=100)


def test_error_texts_and_argument_kinds():
    dec = vx.SparseBlossomDecoder([[0, 1], [1, 2]], None)
    with pytest.raises(ValueError):
        dec.decode(u8([1]))
    with pytest.raises(ValueError):
        dec.decode_with_weights(u8([1, 0, 0]), [])
    assert error_text(ValueError, lambda: dec.decode(u8([1, 0, 0, 0])[::2])) == (
        "Invalid syndrome: The given array is not contiguous or is misaligned.")
    with pytest.raises(ValueError):
        dec.batch_decode(np.zeros((3, 3), dtype=np.uint8))
    assert error_text(ValueError, lambda: dec.batch_decode(np.zeros((2, 4), dtype=np.uint8)[:, ::2])) == (
        "Invalid syndromes: The given array is not contiguous or is misaligned.")
    assert dec.batch_decode(np.zeros((0, 2), dtype=np.uint8)).shape == (0, 3)
    # No qubits at all: every row's correction is empty rather than an error.
    assert vx.SparseBlossomDecoder([[5]], 0).batch_decode(u8([[1], [0]])).shape == (2, 0)
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        dec.decode_with_weights(u8([1, 0]), "ab")
    for bad in ([[0, 1.0]], [(0, 1.0, 2)], [(-1, 1.0)], [(0, "x")]):
        with pytest.raises((TypeError, OverflowError)):
            dec.decode_with_weights(u8([1, 0]), bad)
    assert dec.decode(u8([1, 1])).tolist() == [0, 1, 0]  # failed conversions leave no overrides behind
    assert vx.SparseBlossomDecoder.decode_with_weights.__text_signature__ == "($self, syndrome, weights)"
    assert vx.SparseBlossomDecoder.__text_signature__ == "(check_to_qubits, n_qubits)"
