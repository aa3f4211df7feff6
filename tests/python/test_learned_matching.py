"""LearnedMatchingDecoder: network edge estimates as exact-matching weights."""
import numpy as np
import pytest
import stim

import vornex_decoder_v3 as vx


def circuit_model(distance, p):
    circuit = stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=distance,
        after_clifford_depolarization=p, before_measure_flip_probability=p,
        after_reset_flip_probability=p)
    return circuit, circuit.detector_error_model(decompose_errors=True)


def repetition_model(p_left, p_right):
    # Five detectors on a line; edges to the boundary at both ends; the left
    # end carries the observable.
    lines = [f"error({p_left}) D0 L0"]
    for d in range(4):
        lines.append(f"error({p_left if d < 2 else p_right}) D{d} D{d + 1}")
    lines.append(f"error({p_right}) D4")
    return "\n".join(lines)


def test_batch_rows_are_single_predictions_and_weights_are_finite():
    circuit, model = circuit_model(3, 0.01)
    dec = vx.LearnedMatchingDecoder.from_detector_error_model(model, seed=4)
    assert (dec.num_detectors, dec.num_observables) == (model.num_detectors, 1)
    events, _ = circuit.compile_detector_sampler(seed=2).sample(200, separate_observables=True)
    batch = dec.predict_observables_batch(events)
    assert batch.shape == (200, 1)
    for row, shot in zip(batch, events):
        assert np.array_equal(row, dec.predict_observables(shot))
    weights = dec.edge_weights(events[0].astype(np.uint8))
    assert weights.shape == (dec.num_edges,) and weights.dtype == np.float64
    assert np.all(np.isfinite(weights)) and np.all(weights >= 0)
    packed = np.packbits(events, axis=1, bitorder="little")
    assert np.array_equal(dec.predict_observables_batch(packed, bit_packed=True)[:, 0] & 1, batch[:, 0])


def test_training_learns_correlated_errors_and_beats_plain_matching():
    # The circuit's Y errors flip an edge in each detector type at once;
    # matching with the graph view's independent weights cannot use that,
    # the trained network can. Seeded throughout, so the figures are fixed.
    circuit, model = circuit_model(3, 0.01)
    dec = vx.LearnedMatchingDecoder(model, seed=1)
    best, prior, _ = dec.train(20_000, seed=3, validation_shots=5000)
    assert best < prior
    events, flips = circuit.compile_detector_sampler(seed=5).sample(20_000, separate_observables=True)
    plain = vx.MatchingDecoder.from_detector_error_model(model)
    plain_failures = (plain.predict_observables_batch(events) != flips).any(axis=1).sum()
    learned_failures = (dec.predict_observables_batch(events) != flips).any(axis=1).sum()
    assert learned_failures < 0.95 * plain_failures
    # The network's weights move off the priors only on shots with events.
    quiet = dec.edge_weights(np.zeros(model.num_detectors, dtype=np.uint8))
    moved = [not np.array_equal(dec.edge_weights(shot.astype(np.uint8)), quiet) for shot in events[:200]]
    assert 0 < sum(moved) < 200
    # Without held-out shots nothing selects: the last network is kept.
    unselected = vx.LearnedMatchingDecoder(model, seed=1)
    assert unselected.train(2000, seed=3, validation_shots=0) == (0.0, 0.0, 2000)
    assert any(not np.array_equal(unselected.edge_weights(shot.astype(np.uint8)), quiet) for shot in events[:200])


def test_training_is_seeded_and_keeps_the_best_network(tmp_path):
    _, model = circuit_model(3, 0.01)
    runs = []
    for _ in range(2):
        dec = vx.LearnedMatchingDecoder(model, hidden_size=8, n_layers=1, seed=3)
        best, prior, samples = dec.train(256, seed=9, validation_shots=300)
        path = tmp_path / f"w{len(runs)}.safetensors"
        dec.save_weights(str(path))
        runs.append((best, prior, samples, path.read_bytes()))
    assert runs[0] == runs[1]
    best, prior, samples, _ = runs[0]
    assert samples == 256
    assert 0.0 <= best <= 1.0 and 0.0 <= prior <= 1.0
    # Loading the trained weights into a fresh decoder gives its predictions.
    fresh = vx.LearnedMatchingDecoder(model, hidden_size=8, n_layers=1, seed=5)
    fresh.load_weights(str(tmp_path / "w0.safetensors"))
    trained = vx.LearnedMatchingDecoder(model, hidden_size=8, n_layers=1, seed=3)
    trained.train(256, seed=9, validation_shots=300)
    events = np.random.default_rng(0).integers(0, 2, (50, model.num_detectors), dtype=np.uint8)
    assert np.array_equal(np.array([fresh.edge_weights(e) for e in events]),
                          np.array([trained.edge_weights(e) for e in events]))


def test_interrupted_training_keeps_the_best_network_so_far():
    _, model = circuit_model(3, 0.01)
    dec = vx.LearnedMatchingDecoder(model, hidden_size=8, n_layers=1, seed=3)
    events = np.zeros(model.num_detectors, dtype=np.uint8)
    events[[0, 3]] = 1
    before = dec.edge_weights(events)
    calls = []

    def stop(done, total):
        calls.append((done, total))
        raise KeyboardInterrupt

    # Stopped after the first chunk, before the first held-out measurement:
    # the best network so far is the starting one.
    with pytest.raises(KeyboardInterrupt):
        dec.train(100_000, seed=1, validation_shots=50, progress=stop)
    assert calls == [(64, 100_000)]
    assert np.array_equal(dec.edge_weights(events), before)


def test_bad_inputs_raise():
    _, model = circuit_model(3, 0.01)
    dec = vx.LearnedMatchingDecoder(model, seed=0)
    with pytest.raises(ValueError):
        dec.edge_weights(np.zeros(3, dtype=np.uint8))
    with pytest.raises(ValueError):
        vx.LearnedMatchingDecoder("error(0.1) D0 L70")
    with pytest.raises(ValueError):
        vx.LearnedMatchingDecoder(model, hidden_size=5000)
