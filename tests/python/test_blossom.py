"""BlossomDecoder: exact minimum weight where guaranteed, consistent corrections, errors."""

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import error_text, rotated_sector_left_right, syndrome_of
from test_blossom_codes import assert_batch_rows_equal_single_decodes, min_correction_weight, reproduces


def u8(values):
    return np.array(values, dtype=np.uint8)


@pytest.mark.parametrize("weighted", [False, True])
def test_minimum_weight_for_at_most_twelve_defects(weighted):
    rng = np.random.default_rng(7 + weighted)
    for d in (3, 5, 7, 9):
        checks, nq = rotated_sector_left_right(d)
        weights = (0.05 + 2 * rng.random(nq)).tolist() if weighted else [1.0] * nq
        dec = vx.BlossomDecoder(checks, nq, weights if weighted else None)
        tested = 0
        for _ in range(60):
            s = syndrome_of(checks, (rng.random(nq) < rng.uniform(0.02, 0.15)).astype(np.uint8))
            if s.sum() > 12:
                continue
            c = dec.decode(s)
            assert reproduces(checks, nq, s, c)
            got = float(np.dot(c, weights))
            assert got == pytest.approx(min_correction_weight(checks, nq, weights, s), abs=1e-3)
            tested += 1
        assert tested > 30


def disconnected_code():
    # A repetition code, a ring without boundary and a rotated sector side by side.
    rep = [[0, 1], [1, 2], [2, 3]]
    ring = [[10, 11], [11, 12], [12, 10]]
    sector = [[q + 20 for q in check] for check in rotated_sector_left_right(3)[0]]
    return rep + ring + sector, 29


def test_corrections_reproduce_every_reachable_syndrome():
    rng = np.random.default_rng(3)
    surface, n_surface = vx.py_generate_surface_code_checks(4)  # weight-4 hyperedges, no boundary
    ring, n_ring = vx.py_generate_ring_code_checks(3)
    codes = [rotated_sector_left_right(7), disconnected_code(), (surface, n_surface), (ring, n_ring)]
    for checks, nq in codes:
        dec = vx.BlossomDecoder(checks, nq, None)
        for _ in range(150):
            s = syndrome_of(checks, (rng.random(nq) < rng.uniform(0, 0.3)).astype(np.uint8))
            assert reproduces(checks, nq, s, dec.decode(s))


def test_single_defects():
    dec = vx.BlossomDecoder([[0, 1], [1, 2], [2, 3]], None, None)
    assert dec.decode(u8([1, 0, 0])).tolist() == [1, 0, 0, 0]  # the boundary qubit next to it
    assert dec.decode(u8([0, 0, 1])).tolist() == [0, 0, 0, 1]
    # Without a boundary a lone defect cannot be explained: nothing is flipped.
    ring, nq = vx.py_generate_ring_code_checks(3)
    lone = np.zeros(len(ring), dtype=np.uint8)
    lone[4] = 1
    assert vx.BlossomDecoder(ring, nq, None).decode(lone).tolist() == [0] * nq
    # Weights choose the cheaper boundary side, and short weight lists are padded with 1.0.
    heavy_left = vx.BlossomDecoder([[0, 1], [1, 2]], None, [5.0])
    assert heavy_left.decode(u8([1, 0])).tolist() == [0, 1, 1]


def test_edges_and_sizes():
    dec = vx.BlossomDecoder([[0, 1, 2], [1, 2], [1, 3]], None, None)
    assert dec.n_qubits == 4 and dec.n_checks == 3
    assert dec.edges == [(0, 1), (0, 2), (1, 2), (0, 1)]  # qubit 1 lies in three checks
    assert vx.BlossomDecoder([[0, 1]], 7, None).n_qubits == 7
    assert vx.BlossomDecoder([], None, None).n_qubits == 1


def test_batch_rows_equal_single_decodes_with_one_and_two_workers():
    assert_batch_rows_equal_single_decodes("vx.BlossomDecoder(checks, 121, (0.5 + rng.random(121)).tolist())",
                                           distance=11, seed=5, p_max=0.45, n_rows=120)


def test_batch_shapes():
    dec = vx.BlossomDecoder([[0, 1], [1, 2]], None, None)
    assert dec.batch_decode(np.zeros((0, 2), dtype=np.uint8)).shape == (0, 3)
    empty = vx.BlossomDecoder([[5]], 0, None)  # every qubit index beyond n_qubits
    out = empty.batch_decode(u8([[1], [0]]))
    assert out.shape == (2, 0)
    assert vx.BlossomDecoder([], None, None).decode(u8([])).tolist() == [0]


def test_error_texts():
    dec = vx.BlossomDecoder([[0, 1], [1, 2]], None, None)
    with pytest.raises(ValueError):
        dec.decode(u8([1, 0, 0]))
    assert error_text(ValueError, lambda: dec.decode(u8([1, 0, 0, 0])[::2])) == (
        "Tableau syndrome invalide: The given array is not contiguous or is misaligned.")
    for shape in ((2, 3), (2,)):
        with pytest.raises(ValueError):
            dec.batch_decode(np.zeros(shape, dtype=np.uint8))
    assert error_text(ValueError, lambda: dec.batch_decode(np.zeros((2, 4), dtype=np.uint8)[:, ::2])) == (
        "Tableau syndromes invalide: The given array is not contiguous or is misaligned.")
    with pytest.raises(TypeError):
        dec.decode([1, 0])
    with pytest.raises(TypeError):
        dec.decode(np.zeros(2, dtype=np.int64))
    with pytest.raises(TypeError):
        vx.BlossomDecoder([[0, 1]], None, "ab")
    with pytest.raises(OverflowError):
        vx.BlossomDecoder([[0, 1]], -1, None)
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        vx.BlossomDecoder("ab", None, None)


def test_signatures():
    assert vx.BlossomDecoder.__text_signature__ == "(check_to_qubits, n_qubits, edge_weights)"
    assert vx.BlossomDecoder.decode.__text_signature__ == "($self, syndrome)"
    assert vx.BlossomDecoder.batch_decode.__text_signature__ == "($self, syndromes)"
    dec = vx.BlossomDecoder(check_to_qubits=[[0, 1]], n_qubits=None, edge_weights=[1.0, 2.0])
    assert dec.decode(syndrome=u8([1])).tolist() == [1, 0]
