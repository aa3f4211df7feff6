"""BeliefMatchingDecoder: model entry points, predictions, plain matching beside it, sinter plugin."""
import numpy as np
import pymatching
import pytest
import stim

import vornex_decoder_v3 as vx


def surface(distance, p, decompose=True):
    circuit = stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=distance, after_clifford_depolarization=p,
        before_measure_flip_probability=p, after_reset_flip_probability=p,
    )
    return circuit, circuit.detector_error_model(decompose_errors=decompose)


def test_entry_points_agree_and_predictions_have_the_shared_shape(tmp_path):
    circuit, dem = surface(3, 0.01)
    path = tmp_path / "m.dem"
    path.write_text(str(dem))
    decoders = [vx.BeliefMatchingDecoder(dem), vx.BeliefMatchingDecoder.from_detector_error_model(str(dem)),
                vx.BeliefMatchingDecoder.from_detector_error_model(path, max_iter=20, bp_method="product_sum")]
    det, _ = circuit.compile_detector_sampler(seed=2).sample(300, separate_observables=True)
    det = det.astype(np.uint8)
    first = decoders[0].predict_observables_batch(det)
    assert first.shape == (300, 1) and first.dtype == np.uint8
    for dec in decoders:
        assert (dec.num_detectors, dec.num_observables) == (dem.num_detectors, 1)
        assert np.array_equal(dec.predict_observables_batch(det), first)
    dec = decoders[0]
    for row, pred in zip(det[:40], first[:40]):
        assert np.array_equal(dec.predict_observables(row), pred)
    packed = np.packbits(det, axis=1, bitorder="little")
    assert np.array_equal(dec.predict_observables_batch(packed, bit_packed=True),
                          np.packbits(first, axis=1, bitorder="little"))


def test_plain_matching_matches_the_peer_and_belief_matching_is_not_worse():
    circuit, dem = surface(5, 0.005)
    det, obs = circuit.compile_detector_sampler(seed=11).sample(800, separate_observables=True)
    det = det.astype(np.uint8)
    dec = vx.BeliefMatchingDecoder(dem)
    plain = dec.predict_observables_batch(det, plain=True)
    belief = dec.predict_observables_batch(det)
    peer = pymatching.Matching.from_detector_error_model(dem).decode_batch(det)
    fails = [np.count_nonzero((x != obs).any(axis=1)) for x in (plain, belief, peer)]
    # Both exact matchers on the same weights: equal failure counts up to ties between equal-weight matchings.
    assert abs(fails[0] - fails[2]) <= max(3, fails[2] // 5)
    assert fails[1] <= fails[0]


def test_radius_capped_bp_keeps_the_exact_runs_predictions_and_failures():
    circuit, dem = surface(5, 0.005)
    det, obs = circuit.compile_detector_sampler(seed=17).sample(1500, separate_observables=True)
    det = det.astype(np.uint8)
    exact = vx.BeliefMatchingDecoder(dem).predict_observables_batch(det)
    assert np.array_equal(exact, vx.BeliefMatchingDecoder(dem, bp_radius=None).predict_observables_batch(det))
    fails = np.count_nonzero((exact != obs).any(axis=1))
    for radius in (1, 20):
        dec = vx.BeliefMatchingDecoder(dem, bp_radius=radius)
        capped = dec.predict_observables_batch(det)
        for row, pred in zip(det[:30], capped[:30]):
            assert np.array_equal(dec.predict_observables(row), pred)
        disagreements = np.count_nonzero((capped != exact).any(axis=1))
        # Held-back messages and far edges at their last event-free weights change almost nothing here
        # (0 of 1500 shots at either radius; radius 0, no BP at all, changes 5).
        assert disagreements <= 2, radius
        # Paired shots: three standard deviations of the disagreements.
        assert np.count_nonzero((capped != obs).any(axis=1)) <= fails + 3 * max(1, disagreements) ** 0.5
    with pytest.raises(ValueError, match="^bp_radius must be >= 0, got -1$"):
        vx.BeliefMatchingDecoder(dem, bp_radius=-1)


def test_plain_matching_is_the_matching_decoder_and_events_come_in_any_layout():
    circuit, dem = surface(5, 0.005)
    det = circuit.compile_detector_sampler(seed=5).sample(500)
    dec = vx.BeliefMatchingDecoder(dem)
    reference = vx.MatchingDecoder.from_detector_error_model(dem).predict_observables_batch(det)
    assert np.array_equal(dec.predict_observables_batch(det, plain=True), reference)
    belief = dec.predict_observables_batch(det.astype(np.uint8))
    assert np.array_equal(dec.predict_observables_batch(np.asfortranarray(det)), belief)
    assert np.array_equal(dec.predict_observables(det[3]), belief[3])


def test_a_shot_without_a_matching_is_an_error():
    # Two detectors and no boundary: one event alone has no explanation.
    dec = vx.BeliefMatchingDecoder("error(0.1) D0 D1 L0")
    with pytest.raises(ValueError):
        dec.predict_observables(np.array([0, 1], np.uint8))
    with pytest.raises(ValueError):
        dec.predict_observables_batch(np.array([[1, 1], [1, 0]], np.uint8), plain=True)
    assert np.array_equal(dec.predict_observables_batch(np.array([[1, 1], [0, 0]], np.uint8)), [[1], [0]])


def test_models_without_a_graph_and_bad_settings_are_refused():
    _, dem = surface(3, 0.01, decompose=False)
    with pytest.raises(ValueError):
        vx.BeliefMatchingDecoder(dem)
    _, dem = surface(3, 0.01)
    with pytest.raises(ValueError):
        vx.BeliefMatchingDecoder(dem, bp_method="x")
    dec = vx.BeliefMatchingDecoder(dem)
    with pytest.raises(ValueError):
        dec.predict_observables(np.array([0, 5] + [0] * (dem.num_detectors - 2), dtype=np.uint8))


def test_sinter_plugin_offers_belief_matching():
    tools = pytest.importorskip("vornex_tools")
    assert "vornex_belief_matching" in tools.sinter_decoders()
    assert "vornex_bposd" in tools.sinter_decoders()
