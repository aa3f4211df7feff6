"""RotatedSurfaceCode from Python: the layout, its algebra in matrix form, and
decoders built on either check type (the exhaustive distance check is native)."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import parity_matrix


def test_distance_three_layout():
    code = vx.RotatedSurfaceCode(3)
    assert (code.distance, code.n_qubits) == (3, 9)
    assert code.z_checks == [[1, 2], [0, 1, 3, 4], [4, 5, 7, 8], [6, 7]]
    assert code.x_checks == [[0, 3], [1, 2, 4, 5], [3, 4, 6, 7], [5, 8]]
    assert code.z_logical == [0, 3, 6]
    assert code.x_logical == [0, 1, 2]


@pytest.mark.parametrize("d", [2, 5, 8, 11])
def test_checks_and_logicals_commute(d):
    code = vx.RotatedSurfaceCode(d)
    hz, hx = parity_matrix(code.z_checks, code.n_qubits), parity_matrix(code.x_checks, code.n_qubits)
    z_logical = parity_matrix([code.z_logical], code.n_qubits)[0].astype(int)
    x_logical = parity_matrix([code.x_logical], code.n_qubits)[0].astype(int)
    assert not (hx.astype(int) @ hz.T.astype(int) % 2).any()
    assert not (hx.astype(int) @ z_logical % 2).any()
    assert not (hz.astype(int) @ x_logical % 2).any()
    assert z_logical @ x_logical % 2 == 1


def test_union_find_decodes_single_flips_on_both_types():
    code = vx.RotatedSurfaceCode(7)
    for checks, logical in ((code.z_checks, code.z_logical), (code.x_checks, code.x_logical)):
        decoder = vx.UnionFindDecoder(checks, code.n_qubits)
        h = parity_matrix(checks, code.n_qubits)
        for q in range(code.n_qubits):
            error = np.zeros(code.n_qubits, dtype=np.uint8)
            error[q] = 1
            syndrome = (h @ error % 2).astype(np.uint8)
            residual = decoder.decode(syndrome) ^ error
            assert not (h @ residual % 2).any()
            assert residual[logical].sum() % 2 == 0


def test_distance_out_of_range():
    with pytest.raises(ValueError):
        vx.RotatedSurfaceCode(0)
    with pytest.raises(ValueError):
        vx.RotatedSurfaceCode(65536)
