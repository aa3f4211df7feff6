"""BeliefCorrelatedDecoder: fewer failures than correlated matching on the same shots, the shared prediction
shapes, and the errors of models and shots it cannot decode."""
import numpy as np
import pymatching
import pytest
import stim

import vornex_decoder_v3 as vx


def surface(distance, p):
    circuit = stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=distance, after_clifford_depolarization=p,
        before_round_data_depolarization=p, before_measure_flip_probability=p, after_reset_flip_probability=p)
    return circuit, circuit.detector_error_model(decompose_errors=True)


def test_not_worse_than_correlated_matching_on_the_same_shots():
    circuit, dem = surface(5, 0.005)
    det, obs = circuit.compile_detector_sampler(seed=11).sample(4000, separate_observables=True)
    combined = vx.BeliefCorrelatedDecoder(dem).predict_observables_batch(det)
    correlated = vx.MatchingDecoder.from_detector_error_model(dem, enable_correlations=True)
    peer = pymatching.Matching.from_detector_error_model(dem, enable_correlations=True)
    fails = {name: (pred != obs).any(axis=1) for name, pred in [
        ("combined", combined), ("ours", correlated.predict_observables_batch(det)),
        ("peer", peer.decode_batch(det, enable_correlations=True))]}
    # The correlated correction is one of the three it weighs, and the scores pick the likelier one more often
    # than not: a flipped choice or misplaced belief weights cost far more than this margin.
    assert fails["combined"].sum() <= fails["ours"].sum() + 2
    assert fails["combined"].sum() <= fails["peer"].sum() + 2
    assert np.count_nonzero(fails["combined"] & ~fails["ours"]) <= np.count_nonzero(fails["ours"] & ~fails["combined"])


def test_radius_one_keeps_the_exact_runs_predictions():
    circuit, dem = surface(5, 0.005)
    det = circuit.compile_detector_sampler(seed=17).sample(1500)
    exact = vx.BeliefCorrelatedDecoder(dem).predict_observables_batch(det)
    assert np.array_equal(exact, vx.BeliefCorrelatedDecoder(dem, bp_radius=None).predict_observables_batch(det))
    capped = vx.BeliefCorrelatedDecoder(dem, bp_radius=1).predict_observables_batch(det)
    # 1 shot of 1500 differs; without the region's per-shot weights (radius 0) 7 do.
    assert np.count_nonzero((capped != exact).any(axis=1)) <= 3


@pytest.mark.parametrize("radius", [None, 0, 1])
def test_single_batch_and_packed_predictions_agree(radius):
    circuit, dem = surface(3, 0.01)
    det = circuit.compile_detector_sampler(seed=2).sample(300).astype(np.uint8)
    dec = vx.BeliefCorrelatedDecoder.from_detector_error_model(str(dem), max_iter=5, bp_radius=radius)
    assert (dec.num_detectors, dec.num_observables) == (dem.num_detectors, 1)
    batch = dec.predict_observables_batch(det)
    assert batch.shape == (300, 1) and batch.dtype == np.uint8
    for row, pred in zip(det[:50], batch[:50]):
        assert np.array_equal(dec.predict_observables(row), pred)
    packed = np.packbits(det, axis=1, bitorder="little")
    assert np.array_equal(dec.predict_observables_batch(packed, bit_packed=True),
                          np.packbits(batch, axis=1, bitorder="little"))
    assert not dec.predict_observables_batch(np.zeros_like(det)).any()


def test_models_and_shots_it_cannot_decode_are_refused_by_name():
    with pytest.raises(ValueError) as hyper:
        vx.BeliefCorrelatedDecoder("error(0.1) D0 D1 D2\n")
    assert "decompose" in str(hyper.value)
    with pytest.raises(ValueError) as likely:
        vx.BeliefCorrelatedDecoder("error(0.1) D0 D1\nerror(0.6) D0 ^ D1\n")
    assert "line 2" in str(likely.value)
    dec = vx.BeliefCorrelatedDecoder("error(0.1) D0 D1\nerror(0.1) D2 L0\n")
    with pytest.raises(ValueError, match="matching"):
        dec.predict_observables_batch(np.array([[0, 0, 0], [1, 0, 0]], dtype=np.uint8))
    with pytest.raises(ValueError, match="bp_method"):
        vx.BeliefCorrelatedDecoder("error(0.1) D0\n", bp_method="x")
    with pytest.raises(ValueError, match="^bp_radius must be >= 0, got -1$"):
        vx.BeliefCorrelatedDecoder("error(0.1) D0\n", bp_radius=-1)
    with pytest.raises(TypeError,
                       match="^'float' object cannot be interpreted as an integer\nwhile processing 'bp_radius'$"):
        vx.BeliefCorrelatedDecoder("error(0.1) D0\n", bp_radius=1.5)
