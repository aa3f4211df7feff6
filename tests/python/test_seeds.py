"""Seeded starting weights: the same seed gives the same network and the same
training, another seed or none a different one."""
import numpy as np

import vornex_decoder_v3 as vx

CHECKS = [[0, 1], [1, 2], [2, 3], [3, 4], [4, 5], [5, 0, 6]]


def graph():
    return vx.DetectorGraph(CHECKS, [1, 0, 0, 1, 0, 0])


def network(seed):
    return vx.GNNPredecoder(vx.DetectorGraph.node_feature_dim(), vx.DetectorGraph.edge_feature_dim(), 8, 2,
                            seed=seed)


def test_network_weights_follow_the_seed(tmp_path):
    g = graph()
    assert network(5).forward(g) == network(5).forward(g)
    assert network(5).forward(g) != network(6).forward(g)
    assert network(None).forward(g) != network(None).forward(g)
    network(7).save_weights(str(tmp_path / "a"))
    network(7).save_weights(str(tmp_path / "b"))
    assert (tmp_path / "a").read_bytes() == (tmp_path / "b").read_bytes()


def test_seeded_training_repeats():
    def trained(seed):
        net = network(seed)
        trainer = vx.GNNTrainer(CHECKS, 7, 0.1)
        loss = trainer.train(net, 12, 2)
        return loss, net.forward(graph())

    assert trained(3) == trained(3)


def test_hybrid_decoder_seed():
    code = vx.RotatedSurfaceCode(5)
    syndromes = np.random.default_rng(4).integers(0, 2, (20, len(code.z_checks)), dtype=np.uint8)

    def weights_file(seed, path):
        decoder = vx.HybridDecoder(code.z_checks, code.n_qubits, gnn_hidden_size=8, gnn_n_layers=1, seed=seed)
        decoder.batch_decode_hybrid(syndromes)
        decoder.save_weights(str(path))
        return path.read_bytes()

    import pathlib
    import tempfile
    with tempfile.TemporaryDirectory() as folder:
        base = pathlib.Path(folder)
        assert weights_file(9, base / "a") == weights_file(9, base / "b")
        assert weights_file(9, base / "c") != weights_file(10, base / "d")
