"""HybridDecoder: three decodes, batches, messages, training and weights files."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from test_gnn_trainer import sector
from training_docs import training_doc


def syndrome_of(checks, error):
    return np.array([np.bitwise_xor.reduce(error[c]) for c in checks], dtype=np.uint8)


def reproduces(checks, s, c):
    return np.array_equal(syndrome_of(checks, c), s)


def test_decodes_explain_their_syndromes():
    checks = sector(7)
    dec = vx.HybridDecoder(checks, gnn_hidden_size=8, gnn_n_layers=2)
    assert (dec.n_qubits, dec.n_checks) == (49, 24)
    zero = np.zeros(24, np.uint8)
    for method in (dec.decode_hybrid, dec.decode_heuristic, dec.decode_standard):
        out = method(zero)
        assert out.dtype == np.uint8 and out.shape == (49,) and not out.any()
    rng = np.random.default_rng(5)
    sparse = vx.SparseBlossomDecoder(checks, 49)
    for _ in range(100):
        s = syndrome_of(checks, (rng.random(49) < 0.05).astype(np.uint8))
        for method in (dec.decode_hybrid, dec.decode_heuristic, dec.decode_standard):
            assert reproduces(checks, s, method(s))
        assert np.array_equal(dec.decode_standard(s), sparse.decode(s))


def test_batches_match_single_decodes():
    checks = sector(5)
    dec = vx.HybridDecoder(checks, 25, gnn_hidden_size=8, gnn_n_layers=1)
    rng = np.random.default_rng(2)
    rows = np.stack([syndrome_of(checks, (rng.random(25) < 0.08).astype(np.uint8)) for _ in range(30)])
    hybrid, standard = dec.batch_decode_hybrid(rows), dec.batch_decode_standard(rows)
    assert hybrid.shape == standard.shape == (30, 25)
    for i in range(30):
        assert np.array_equal(hybrid[i], dec.decode_hybrid(rows[i]))
        assert np.array_equal(standard[i], dec.decode_standard(rows[i]))
    assert dec.batch_decode_hybrid(np.zeros((0, 12), np.uint8)).shape == (0, 25)


def test_messages():
    dec = vx.HybridDecoder(sector(5), gnn_hidden_size=4, gnn_n_layers=1)
    with pytest.raises(ValueError):
        dec.decode_hybrid(np.zeros(11, np.uint8))
    with pytest.raises(ValueError, match=r"^Invalid syndrome: The given array is not contiguous or is misaligned\.$"):
        dec.decode_standard(np.zeros(24, np.uint8)[::2])
    with pytest.raises(ValueError):
        dec.batch_decode_standard(np.zeros((3, 13), np.uint8))
    with pytest.raises(ValueError, match=r"^Invalid syndromes: "):
        dec.batch_decode_hybrid(np.zeros((3, 24), np.uint8)[:, ::2])
    with pytest.raises(TypeError):
        dec.decode_hybrid(np.zeros(12, np.int64))
    with pytest.raises(RuntimeError):
        dec.load_weights("/nonexistent/dir/weights.safetensors")
    with pytest.raises(MemoryError):
        vx.HybridDecoder(sector(5), gnn_hidden_size=2**32)
    args = ("n_samples: nombre d'exemples de training à générer", "n_epochs: nombre d'epochs d'entraînement",
            "error_rate: taux d'erreur pour la génération de syndromes (défaut: 0.1)")
    assert vx.HybridDecoder.train.__doc__ == training_doc(
        "Entraîne le GNN interne avec un générateur de dataset intégré.", *args)
    assert vx.HybridDecoder.train_bp.__doc__ == training_doc(
        "Entraîne le GNN avec des cibles marginales BP (Belief Propagation).", *args,
        "max_bp_iter: nombre d'itérations BP (défaut: 20)")


def test_training_and_weights_round_trip(tmp_path):
    checks = sector(5)
    dec = vx.HybridDecoder(checks, gnn_hidden_size=8, gnn_n_layers=2)
    rng = np.random.default_rng(9)
    rows = np.stack([syndrome_of(checks, (rng.random(25) < 0.06).astype(np.uint8)) for _ in range(20)])
    assert isinstance(dec.train(20, 2, 0.1), float)
    assert isinstance(dec.train_bp(10, 1, 0.05, 10), float)
    path = str(tmp_path / "hybrid.safetensors")
    dec.save_weights(path)
    other = vx.HybridDecoder(checks, gnn_hidden_size=8, gnn_n_layers=2)
    other.load_weights(path)
    assert np.array_equal(other.batch_decode_hybrid(rows), dec.batch_decode_hybrid(rows))
    assert (dec.n_qubits, dec.n_checks) == (25, 12)
