"""GNNPredecoder: forward pass against a NumPy reference read from the weights
file, training, properties, the weights file and its failures."""
import json
import pathlib
import struct

import numpy as np
import pytest

import vornex_decoder_v3 as vx

CHECKS = [[0, 1], [1, 2], [2, 3], [3, 4], [4, 5], [5, 0, 6]]


def graph(syndrome=(1, 0, 0, 1, 0, 0)):
    return vx.DetectorGraph(CHECKS, list(syndrome))


def read_safetensors(path):
    raw = pathlib.Path(path).read_bytes()
    (n,) = struct.unpack("<Q", raw[:8])
    header = json.loads(raw[8:8 + n])
    data = raw[8 + n:]
    tensors = {}
    for name, info in header.items():
        if name == "__metadata__":
            continue
        begin, end = info["data_offsets"]
        tensors[name] = np.frombuffer(data[begin:end], dtype="<f8").reshape(info["shape"])
    return raw, header, tensors


def reference_forward(t, n_layers, g):
    """Edge weights from the file's tensors, written from the definition."""
    h = np.array(g.node_features)
    x = np.array(g.edge_features)
    src, dst = np.array(g.edge_src), np.array(g.edge_dst)
    owner = np.minimum(src, dst)
    count = np.zeros(g.n_nodes)
    np.add.at(count, src, 1)
    np.add.at(count, dst, 1)
    for i in range(n_layers):
        m = np.concatenate([h[owner], x], axis=1) @ t[f"layers.{i}.w_message"].T + t[f"layers.{i}.b_message"]
        agg = np.zeros((g.n_nodes, m.shape[1]))
        np.add.at(agg, src, m)
        np.add.at(agg, dst, m)
        agg[count > 0] /= count[count > 0, None]
        h = np.maximum(np.concatenate([h, agg], axis=1) @ t[f"layers.{i}.w_update"].T + t[f"layers.{i}.b_update"], 0)
    z = np.concatenate([h[src], h[dst], x], axis=1)
    r = np.maximum(z @ t["edge_readout.w1"].T + t["edge_readout.b1"], 0)
    raw = r @ t["edge_readout.w2"][0] + t["edge_readout.b2"][0]
    return np.clip(np.log(np.exp(raw) + 1), 1e-6, 100)


def test_forward_matches_reference_from_the_weights_file(tmp_path):
    net = vx.GNNPredecoder(10, 8, 6, 3)
    path = str(tmp_path / "w.safetensors")
    net.save_weights(path)
    _, header, tensors = read_safetensors(path)
    assert list(header)[:3] == ["__metadata__", "edge_readout.b1", "edge_readout.b2"]
    assert header["__metadata__"] == {}
    assert header["layers.0.w_message"] == {"dtype": "F64", "shape": [6, 18],
                                            "data_offsets": header["layers.0.w_message"]["data_offsets"]}
    assert tensors["layers.1.w_update"].shape == (6, 12)
    assert tensors["edge_readout.w1"].shape == (6, 20)
    g = graph()
    weights = net.forward(g)
    assert isinstance(weights, list) and len(weights) == g.n_edges
    assert np.allclose(weights, reference_forward(tensors, 3, g), rtol=1e-12, atol=1e-15)
    probs = net.predict_with_node_probs(g)
    assert isinstance(probs, tuple) and probs[0] == weights and len(probs[1]) == g.n_nodes


def test_isolated_node_probability_and_weight_range():
    net = vx.GNNPredecoder(10, 8, 4, 2)
    g = vx.DetectorGraph([[0, 1], [1, 2], [7]], [1, 1, 0])
    weights, probs = net.predict_with_node_probs(g)
    assert probs[2] == pytest.approx(1 / (np.e + 1), rel=1e-15)
    assert all(1e-6 <= w <= 100 for w in weights)


def test_training_reduces_squared_error_and_properties():
    # Seeded: from about one start in ten, 100 epochs do not halve the loss.
    net = vx.GNNPredecoder(10, 8, 8, 2, seed=1)
    assert net.learning_rate == 0.01 and net.l2_lambda == 1e-5
    rng = np.random.default_rng(4)
    graphs = [graph(rng.integers(0, 2, 6)) for _ in range(16)]
    # Cheap edges at fired checks, dear ones elsewhere: learnable from the features.
    targets = [[0.5 if g.node_features[s][3] + g.node_features[d][3] else 2.0
                for s, d in zip(g.edge_src, g.edge_dst)] for g in graphs]

    def loss():
        return np.mean([(np.array(net.forward(g)) - t) ** 2 for g, t in zip(graphs, targets)])

    start = loss()
    net.learning_rate = 0.05
    assert net.train(graphs, targets, 100) is None
    assert loss() < 0.5 * start
    net.learning_rate = 0.5
    net.l2_lambda = -1.0
    assert (net.learning_rate, net.l2_lambda) == (0.5, -1.0)
    with pytest.raises(TypeError):
        net.learning_rate = "fast"
    with pytest.raises(TypeError):
        del net.l2_lambda


def test_train_argument_errors():
    net = vx.GNNPredecoder(10, 8, 3, 1)
    g = graph()
    before = net.forward(g)
    with pytest.raises(ValueError):
        net.train([g], [[1.0] * g.n_edges, [1.0] * g.n_edges], 1)
    with pytest.raises(ValueError):
        net.train([g], [[1.0] * g.n_edges], 2**31)
    net.train([], [], 5)
    net.train([g], [[1.0]], 5)  # wrong target length: skipped
    assert net.forward(g) == before
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        net.train("graphs", [], 1)
    with pytest.raises(TypeError, match="DetectorGraph"):
        net.train([object()], [[]], 1)
    with pytest.raises(TypeError, match="DetectorGraph"):
        net.forward(net)
    with pytest.raises(ValueError):
        vx.GNNPredecoder(9, 8, 3, 1).forward(g)


def test_sizes_beyond_memory_raise_memory_error():
    for sizes in ((2**62, 8, 4, 1), (10, 8, 4, 2**62), (10, 8, 2**32, 1)):
        with pytest.raises(MemoryError):
            vx.GNNPredecoder(*sizes)


def test_weights_file_round_trip_and_failures(tmp_path):
    a, b = vx.GNNPredecoder(10, 8, 5, 2), vx.GNNPredecoder(10, 8, 5, 2)
    g = graph()
    assert a.forward(g) != b.forward(g)
    p1, p2 = str(tmp_path / "a"), str(tmp_path / "b")
    a.save_weights(p1)
    b.load_weights(p1)
    assert a.forward(g) == b.forward(g)
    b.save_weights(p2)
    assert pathlib.Path(p1).read_bytes() == pathlib.Path(p2).read_bytes()

    with pytest.raises(RuntimeError):
        b.load_weights(str(tmp_path / "missing"))
    raw = pathlib.Path(p1).read_bytes()
    for cut in (0, 5, 8, 40, len(raw) // 2, len(raw) - 1):
        pathlib.Path(p2).write_bytes(raw[:cut])
        with pytest.raises(RuntimeError):
            b.load_weights(p2)

    # b2 stored as F32: the dtype error, and nothing of the file is loaded.
    _, header, _ = read_safetensors(p1)
    header["edge_readout.b2"]["dtype"] = "F32"
    header["edge_readout.b2"]["shape"] = [2]
    text = json.dumps(header, separators=(",", ":")).encode()
    text += b" " * (-len(text) % 8)
    (n,) = struct.unpack("<Q", raw[:8])
    pathlib.Path(p2).write_bytes(struct.pack("<Q", len(text)) + text + raw[8 + n:])
    c = vx.GNNPredecoder(10, 8, 5, 2)
    before = c.forward(g)
    with pytest.raises(RuntimeError):
        c.load_weights(p2)
    assert c.forward(g) == before
    with pytest.raises(TypeError):
        c.load_weights(7)
    # A NUL would cut the path short and name another file.
    cut = tmp_path / "cut"
    for method in (c.save_weights, c.load_weights):
        with pytest.raises(RuntimeError):
            method(str(cut) + "\0.safetensors")
    assert not cut.exists()
