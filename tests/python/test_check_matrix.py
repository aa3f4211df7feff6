"""Parity-check matrices as inputs: from_check_matrix on each family built
from a code (dense 0/1 arrays and scipy.sparse), and the warning of the
defined constructors when given such a matrix as check_to_qubits."""
import warnings

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import parity_matrix

FAMILIES = [vx.UnionFindDecoder, vx.FastUnionFindDecoder, vx.LookupTableDecoder, vx.BatchDecoder,
            vx.CPUBatchDecoder, vx.SparseBlossomDecoder]


def rotated(d=5):
    code = vx.RotatedSurfaceCode(d)
    return code.z_checks, code.n_qubits, parity_matrix(code.z_checks, code.n_qubits)


def syndromes(h, shots=300, p=0.08, seed=3):
    errors = (np.random.default_rng(seed).random((shots, h.shape[1])) < p).astype(np.uint8)
    return (errors @ h.T % 2).astype(np.uint8)


@pytest.mark.parametrize("cls", FAMILIES)
def test_matrix_and_lists_build_the_same_decoder(cls):
    scipy_sparse = pytest.importorskip("scipy.sparse")
    checks, n, h = rotated()
    batch = syndromes(h)
    method = "batch_decode" if hasattr(cls, "batch_decode") else "batch_decode_par"
    want = getattr(cls(checks, n), method)(batch)
    for matrix in (h, h.astype(bool), h.tolist(), scipy_sparse.csr_matrix(h), scipy_sparse.coo_matrix(h)):
        decoder = cls.from_check_matrix(matrix)
        assert (decoder.n_qubits, decoder.n_checks) == (n, len(checks))
        assert np.array_equal(getattr(decoder, method)(batch), want)


def test_blossom_probabilities_become_weights():
    checks, n, h = rotated()
    p = np.full(n, 0.05)
    p[3] = 0.3
    decoder = vx.BlossomDecoder.from_check_matrix(h, error_probabilities=p)
    reference = vx.BlossomDecoder(checks, n, list(np.log((1 - p) / p)))
    assert decoder.edges == reference.edges
    batch = syndromes(h)
    assert np.array_equal(decoder.batch_decode(batch), reference.batch_decode(batch))
    assert np.array_equal(vx.BlossomDecoder.from_check_matrix(h).batch_decode(batch),
                          vx.BlossomDecoder(checks, n, None).batch_decode(batch))


def test_bad_matrices_and_probabilities():
    _, _, h = rotated(3)
    with pytest.raises(ValueError, match=r"entries must be 0 or 1, found 2\.0+ at \(0, 1\)"):
        bad = h.copy()
        bad[0, 1] = 2
        vx.UnionFindDecoder.from_check_matrix(bad)
    with pytest.raises(ValueError, match="expected a 2-D parity-check matrix, got 1 dimensions"):
        vx.UnionFindDecoder.from_check_matrix(h[0])
    with pytest.raises(ValueError, match="error_probabilities has 2 entries, the matrix 9 columns"):
        vx.BlossomDecoder.from_check_matrix(h, error_probabilities=[0.1, 0.1])
    with pytest.raises(ValueError, match="strictly between 0 and 1"):
        vx.BlossomDecoder.from_check_matrix(h, error_probabilities=[0.0] * 9)


def test_defined_constructors_warn_on_a_matrix_and_keep_their_reading():
    checks, n = vx.py_generate_repetition_code_checks(5)
    h = parity_matrix(checks, n)
    with pytest.warns(UserWarning, match="from_check_matrix"):
        decoder = vx.BlossomDecoder(h, 5, None)
    # Still read as index lists, as defined: the known wrong answer stays.
    assert decoder.decode(np.array([0, 1, 1, 0], dtype=np.uint8)).tolist() == [1, 0, 0, 0, 0]
    with pytest.warns(UserWarning, match="from_check_matrix"), pytest.raises(ValueError):
        vx.UnionFindDecoder(h, 5)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        vx.UnionFindDecoder(checks, n)               # lists: no warning
        vx.UnionFindDecoder(np.array(checks), n)     # index array, not 0/1
        vx.BlossomDecoder(h, 6, None)                # width differs from n_qubits


# Families with settings beyond the code: the settings pass through as keywords.
STREAM_FAMILIES = [
    (vx.SlidingWindowDecoder, {"window_size": 3, "decay_factor": 0.5}, lambda c, n: vx.SlidingWindowDecoder(c, n, 3, 0.5)),
    (vx.StreamingDecoder, {"history_size": 2}, lambda c, n: vx.StreamingDecoder(c, n, 2)),
]


@pytest.mark.parametrize("cls, settings, from_lists", STREAM_FAMILIES)
def test_stream_decoders_from_a_matrix_keep_their_window(cls, settings, from_lists):
    scipy_sparse = pytest.importorskip("scipy.sparse")
    checks, n, h = rotated()
    rounds = syndromes(h, shots=12)
    reference = from_lists(checks, n)
    want = [reference.update(r).tolist() for r in rounds]
    for matrix in (h, scipy_sparse.csr_matrix(h)):
        decoder = cls.from_check_matrix(matrix, **settings)
        assert [decoder.update(r).tolist() for r in rounds] == want


def test_matching_decoder_from_a_matrix_with_weights():
    scipy_sparse = pytest.importorskip("scipy.sparse")
    checks, n, h = rotated()
    batch = syndromes(h)
    weights = list(np.random.default_rng(5).uniform(0.5, 3.0, n))
    want = vx.MatchingDecoder(checks, n, weights=weights).batch_decode(batch)
    assert np.array_equal(vx.MatchingDecoder.from_check_matrix(scipy_sparse.csr_matrix(h), weights=weights)
                          .batch_decode(batch), want)
    assert np.array_equal(vx.MatchingDecoder.from_check_matrix(h).batch_decode(batch),
                          vx.MatchingDecoder(checks, n).batch_decode(batch))


@pytest.mark.parametrize("build", [lambda h: vx.MatchingDecoder(h, 5), lambda h: vx.StreamingDecoder(h, 5, 3)])
def test_hand_written_constructors_warn_on_a_matrix(build):
    checks, n = vx.py_generate_repetition_code_checks(5)
    with pytest.warns(UserWarning, match="from_check_matrix"), pytest.raises(ValueError):
        build(parity_matrix(checks, n))


def test_bposd_from_a_matrix_with_its_settings():
    scipy_sparse = pytest.importorskip("scipy.sparse")
    checks, n, h = rotated()
    batch = syndromes(h, shots=60)
    channel = list(np.random.default_rng(7).uniform(0.01, 0.2, n))
    settings = {"error_channel": channel, "bp_method": "product_sum", "max_iter": 7}
    want = vx.BPOSDDecoder(checks, n, 0.05, **settings).batch_decode(batch)
    got = vx.BPOSDDecoder.from_check_matrix(scipy_sparse.csr_matrix(h), 0.05, **settings).batch_decode(batch)
    assert np.array_equal(got, want)
    assert np.array_equal(vx.BPOSDDecoder.from_check_matrix(h, 0.05).batch_decode(batch),
                          vx.BPOSDDecoder(checks, n, 0.05).batch_decode(batch))
    with pytest.warns(UserWarning, match="from_check_matrix"):
        vx.BPOSDDecoder(h, n, 0.05)


def test_hybrid_decoder_from_a_matrix_keeps_its_network_settings():
    scipy_sparse = pytest.importorskip("scipy.sparse")
    checks, n, h = rotated()
    batch = syndromes(h, shots=200, p=0.1)
    # Each setting changes these corrections on its own, so none may be dropped.
    settings = {"base_weights": list(np.random.default_rng(1).uniform(0.1, 5.0, n)), "gnn_hidden_size": 8,
                "gnn_n_layers": 2, "seed": 11}
    want = vx.HybridDecoder(checks, n, **settings).batch_decode_hybrid(batch)
    for matrix in (h, scipy_sparse.csr_matrix(h)):
        decoder = vx.HybridDecoder.from_check_matrix(matrix, **settings)
        assert (decoder.n_qubits, decoder.n_checks) == (n, len(checks))
        assert np.array_equal(decoder.batch_decode_hybrid(batch), want)
    with pytest.warns(UserWarning, match="from_check_matrix"):
        vx.HybridDecoder(h, n)


@pytest.mark.parametrize("cls", [vx.MatchingDecoder, vx.WeightedUnionFindDecoder])
def test_weighted_families_take_weights_or_error_probabilities(cls):
    checks, n, h = rotated()
    batch = syndromes(h)
    p = np.random.default_rng(7).uniform(0.01, 0.3, n)
    weights = list(np.log((1 - p) / p))
    want = cls(checks, n, weights=weights).batch_decode(batch)
    assert np.array_equal(cls.from_check_matrix(h, error_probabilities=p).batch_decode(batch), want)
    assert np.array_equal(cls.from_check_matrix(h, weights=weights).batch_decode(batch), want)
    assert np.array_equal(cls.from_check_matrix(h).batch_decode(batch), cls(checks, n).batch_decode(batch))
    with pytest.raises(ValueError, match=r"^give weights or error_probabilities, not both$"):
        cls.from_check_matrix(h, weights=weights, error_probabilities=p)
    with pytest.raises(ValueError, match=r"^error_probabilities has 2 entries, the matrix 25 columns$"):
        cls.from_check_matrix(h, error_probabilities=[0.1, 0.1])
    with pytest.raises(ValueError, match=r"^error_probabilities must lie strictly between 0 and 1$"):
        cls.from_check_matrix(h, error_probabilities=np.full(n, 0.5 + 0.5))
