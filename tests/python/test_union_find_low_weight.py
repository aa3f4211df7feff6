"""Both Union-Find decoders correct every error of weight up to (d - 1) / 2
on the repetition code and one sector of the rotated surface code:
exhaustively up to weight 2, by random sample above that."""
import itertools

import numpy as np
import pytest

import vornex_decoder_v3 as vx


def check_matrix(checks, n_qubits):
    h = np.zeros((len(checks), n_qubits), dtype=np.uint8)
    for row, qubits in enumerate(checks):
        h[row, qubits] = 1
    return h


def low_weight_errors(n_qubits, max_weight, samples, rng):
    rows = []
    for weight in range(1, max_weight + 1):
        if weight <= 2:
            supports = itertools.combinations(range(n_qubits), weight)
        else:
            supports = (rng.choice(n_qubits, weight, replace=False) for _ in range(samples))
        for support in supports:
            row = np.zeros(n_qubits, dtype=np.uint8)
            row[list(support)] = 1
            rows.append(row)
    return np.array(rows)


def repetition(d):
    checks, n = vx.py_generate_repetition_code_checks(d)
    return checks, n, np.ones(n, dtype=np.uint8)


def rotated_sector(d):
    # X errors against the Z checks; a residual without syndrome is the
    # logical when it crosses the Z logical an odd number of times.
    code = vx.RotatedSurfaceCode(d)
    logical = np.zeros(code.n_qubits, dtype=np.uint8)
    logical[code.z_logical] = 1
    return code.z_checks, code.n_qubits, logical


def decoders(checks, n):
    yield vx.UnionFindDecoder(checks, n)
    yield vx.WeightedUnionFindDecoder(checks, n, weights=[1.7] * n)


@pytest.mark.parametrize("make_code", [repetition, rotated_sector])
@pytest.mark.parametrize("d", [3, 5, 7, 9])
def test_every_error_up_to_half_the_distance_is_corrected(make_code, d):
    checks, n, crossing = make_code(d)
    h = check_matrix(checks, n)
    errors = low_weight_errors(n, (d - 1) // 2, 300, np.random.default_rng(d))
    syndromes = (errors @ h.T % 2).astype(np.uint8)
    for decoder in decoders(checks, n):
        residual = errors ^ decoder.batch_decode(syndromes)
        assert not (residual @ h.T % 2).any(), type(decoder).__name__
        assert not (residual @ crossing % 2).any(), type(decoder).__name__


def test_the_logical_check_sees_a_minimal_logical():
    # Guard for the test above: a distance-d logical passes the syndrome
    # check and is flagged by the crossing count.
    checks, n, crossing = rotated_sector(5)
    code = vx.RotatedSurfaceCode(5)
    logical = np.zeros(n, dtype=np.uint8)
    logical[code.x_logical] = 1
    assert not (check_matrix(checks, n) @ logical % 2).any()
    assert logical @ crossing % 2 == 1
