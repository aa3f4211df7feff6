"""DetectorGraph from Python: structure, feature columns, updates, messages."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx

CHAIN = [[0, 1], [1, 2], [2, 3]]


def test_chain_structure_and_features():
    g = vx.DetectorGraph(CHAIN, [0, 1, 0])
    assert (g.n_nodes, g.n_edges) == (3, 2)
    assert (g.edge_src, g.edge_dst, g.edge_qubit_id) == ([0, 1], [1, 2], [1, 2])
    nodes = np.array(g.node_features)
    assert nodes.shape == (3, vx.DetectorGraph.node_feature_dim()) == (3, 10)
    assert nodes[:, 6].tolist() == [1, 0, 1]
    assert nodes[:, 7].tolist() == [0.5, 1, 0.5]
    assert nodes[:, 9].tolist() == [0, 1, 0]
    assert nodes[:, 3].tolist() == [0, 1, 0]
    edges = np.array(g.edge_features)
    assert edges.shape == (2, vx.DetectorGraph.edge_feature_dim()) == (2, 8)
    assert edges.tolist() == [[1, 1, 1, 0, 1, 0, 0, 0]] * 2
    assert vx.DetectorGraph.__text_signature__ == (
        "(check_to_qubits, syndrome, check_positions=None, check_types=None, base_weights=None, n_qubits=None)")


def test_optional_inputs_by_keyword():
    g = vx.DetectorGraph(CHAIN, np.array([0, 0, 1], np.uint8), check_positions=[(0.0, 0.0), (2.0, 0.0), (2.0, 4.0)],
                         check_types=[True, False, True], base_weights=[9.0, 0.5], n_qubits=4)
    nodes = np.array(g.node_features)
    assert nodes[:, 0].tolist() == [0, 1, 1]
    assert nodes[:, 1].tolist() == [0, 0, 1]
    assert nodes[:, 4].tolist() == [1, 0, 1]
    assert nodes[:, 5].tolist() == [0, 1, 0]
    edges = np.array(g.edge_features)
    assert edges[:, 0].tolist() == [0.5, 1.0]
    assert edges[:, 1].tolist() == [0.5, 1.0]
    # Fewer qubits than indices: the edge of qubit 2 and the boundary of check 2 go.
    small = vx.DetectorGraph(CHAIN, [0, 0, 0], n_qubits=2)
    assert small.n_edges == 1 and small.node_features[2][6] == 0


def test_getters_return_copies_and_update_changes_only_syndrome_columns():
    g = vx.DetectorGraph([[0, 1], [1, 2], [2, 3], [3, 4], [4, 5]], [1, 0, 0, 0, 0])
    before = g.node_features
    before[0][0] = 123.0
    assert g.node_features[0][0] != 123.0
    before = np.array(g.node_features)
    assert g.update_syndrome([0, 0, 0, 2, 1]) is None
    after = np.array(g.node_features)
    changed = np.nonzero((before != after).any(axis=0))[0].tolist()
    assert changed == [3, 8]
    assert after[:, 3].tolist() == [0, 0, 0, 2, 1]
    assert np.array_equal(after, np.array(vx.DetectorGraph([[0, 1], [1, 2], [2, 3], [3, 4], [4, 5]],
                                                           [0, 0, 0, 2, 1]).node_features))


def test_errors():
    with pytest.raises(ValueError):
        vx.DetectorGraph(CHAIN, [0, 1])
    with pytest.raises(ValueError):
        vx.DetectorGraph(CHAIN, [0, 1, 0], check_positions=[(0.0, 0.0)], check_types=[True])
    with pytest.raises(ValueError):
        vx.DetectorGraph(CHAIN, [0, 1, 0], check_types=[True])
    g = vx.DetectorGraph(CHAIN, [0, 1, 0])
    with pytest.raises(ValueError):
        g.update_syndrome([0, 0, 0, 0])
    assert g.node_features[1][3] == 1
    with pytest.raises(OverflowError):
        vx.DetectorGraph(CHAIN, [0, 256, 0])
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        vx.DetectorGraph("abc", [0, 0, 0])
    with pytest.raises(TypeError):
        vx.DetectorGraph(CHAIN, [0, 0, 0], check_types=[1, 0, 1])
    # One qubit listed 100000 times pairs with itself into ~5e9 edges: refused
    # from the count, without building them.
    with pytest.raises(ValueError):
        vx.DetectorGraph([[0] * 100000], [0])
