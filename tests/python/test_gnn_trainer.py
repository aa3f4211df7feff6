"""GNNTrainer: dataset size, determinism, back-off contract, argument errors."""
import os

import pytest

import vornex_decoder_v3 as vx
from training_docs import training_doc


def sector(d):
    checks = [[j * d + k, j * d + k + 1, (j + 1) * d + k, (j + 1) * d + k + 1]
              for j in range(d - 1) for k in range(d - 1) if (j + k) % 2 == 0]
    for k in range(d - 1):
        if k % 2 == 1:
            checks.append([k, k + 1])
        if (d + k) % 2 == 0:
            checks.append([d * (d - 1) + k, d * (d - 1) + k + 1])
    return checks


def twin_networks(tmp_path):
    a = vx.GNNPredecoder(10, 8, 8, 2)
    path = os.path.join(tmp_path, "w.safetensors")
    a.save_weights(path)
    b = vx.GNNPredecoder(10, 8, 8, 2)
    b.load_weights(path)
    return a, b


def test_same_arguments_same_loss_and_weights(tmp_path):
    trainer = vx.GNNTrainer(sector(5), 25, 0.1)
    a, b = twin_networks(tmp_path)
    a.learning_rate = 0.02
    b.learning_rate = 0.02
    la, lb = trainer.train(a, 12, 2), trainer.train(b, 12, 2)
    assert la == lb and la >= 0.0
    assert a.learning_rate == 0.02
    a.save_weights(os.path.join(tmp_path, "a"))
    b.save_weights(os.path.join(tmp_path, "b"))
    assert (tmp_path / "a").read_bytes() == (tmp_path / "b").read_bytes()


def test_bp_training_and_empty_datasets(tmp_path):
    trainer = vx.GNNTrainer(sector(5), 25, 0.05)
    net, _ = twin_networks(tmp_path)
    assert trainer.generate_dataset(7) == 7
    assert trainer.generate_dataset(0) == 0
    assert trainer.train(net, 0, 3) == 0.0
    loss = trainer.train_bp(net, 8, 2, 10)
    assert isinstance(loss, float) and 0.0 <= loss < 1e4


def test_argument_errors_and_borrows():
    trainer = vx.GNNTrainer([[0, 1], [1, 2]], 3, 0.1)
    with pytest.raises(TypeError):
        trainer.train("net", 1, 1)
    with pytest.raises(TypeError):
        trainer.train_bp(vx.GNNPredecoder(10, 8, 4, 1), 1, 1)
    with pytest.raises(TypeError):
        vx.GNNTrainer([[0, 1]], None, 0.1)
    with pytest.raises(OverflowError):
        trainer.generate_dataset(-1)
    # A qubit count beyond memory fails cleanly for every dataset.
    huge = vx.GNNTrainer([[0, 1]], 2**64 - 1, 0.1)
    with pytest.raises(MemoryError):
        huge.generate_dataset(1)
    with pytest.raises(MemoryError):
        huge.train_bp(vx.GNNPredecoder(10, 8, 4, 1), 1, 1, 5)
    assert vx.GNNTrainer.generate_dataset.__doc__ == "Génère un dataset de training et retourne la taille."


def test_counts_that_cannot_finish_are_refused_before_any_sample():
    trainer = vx.GNNTrainer([[0, 1], [1, 2]], 3, 0.1)
    net = vx.GNNPredecoder(10, 8, 4, 1)
    g = vx.DetectorGraph([[0, 1], [1, 2]], [1, 0])
    before = net.forward(g)
    for epochs in (2**31, 2**62):
        with pytest.raises(ValueError):
            trainer.train(net, 10, epochs)
        with pytest.raises(ValueError):
            trainer.train_bp(net, 10, epochs, 5)
        with pytest.raises(ValueError):
            vx.HybridDecoder([[0, 1], [1, 2]], 3).train(10, epochs, 0.1)
    with pytest.raises(ValueError):
        trainer.train(net, 2**62, 1)
    # Samples that cannot be held: refused before the first is built.
    with pytest.raises(MemoryError):
        trainer.generate_dataset(2**62)
    assert net.forward(g) == before


def test_docstrings():
    args = ("gnn: GNNPredecoder à entraîner (modifié en place)", "n_samples: nombre d'exemples de training à générer",
            "n_epochs: nombre d'epochs d'entraînement")
    assert vx.GNNTrainer.train.__doc__ == training_doc("Entraîne un GNNPredecoder et retourne la loss finale.", *args)
    assert vx.GNNTrainer.train_bp.__doc__ == training_doc(
        "Entraîne un GNNPredecoder avec cibles marginales BP et retourne la loss finale.", *args,
        "max_bp_iter: nombre d'itérations BP pour les marginales (défaut: 20)")


def test_network_is_held_exclusively_for_the_whole_call():
    trainer = vx.GNNTrainer([[0, 1], [1, 2]], 3, 0.1)
    net = vx.GNNPredecoder(10, 8, 4, 1)
    graph = vx.DetectorGraph([[0, 1], [1, 2]], [1, 0])

    class ReadsTheNetwork:
        def __index__(self):
            net.forward(graph)
            return 1

    with pytest.raises(RuntimeError, match=r"^Already mutably borrowed"):
        trainer.train(net, ReadsTheNetwork(), 1)
    assert len(net.forward(graph)) == 1
