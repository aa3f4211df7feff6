"""MatchingDecoder: minimum weight against a networkx reference on check lists,
corrections that reproduce their syndromes, observable predictions against
pymatching on sampled circuit shots, batches against single decodes with one
and two workers, and the error texts."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import error_text, no_observables_text, rotated_sector_top_bottom, syndrome_of
from test_blossom_codes import min_correction_weight, reproduces, run_with_workers

stim = pytest.importorskip("stim")
pymatching = pytest.importorskip("pymatching")


def circuit(distance, p):
    return stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=distance,
        after_clifford_depolarization=p, before_measure_flip_probability=p,
        after_reset_flip_probability=p, before_round_data_depolarization=p)


@pytest.mark.parametrize("distance", [3, 5, 7])
def test_weighted_corrections_are_minimal_and_reproduce_the_syndrome(distance):
    checks, n = rotated_sector_top_bottom(distance)
    rng = np.random.default_rng(distance)
    for trial in range(40):
        weights = rng.uniform(0.1, 5.0, n) if trial % 2 else np.ones(n)
        dec = vx.MatchingDecoder(checks, n, weights=list(weights))
        error = (rng.random(n) < 0.12).astype(np.uint8)
        syndrome = syndrome_of(checks, error)
        correction = dec.decode(syndrome)
        assert reproduces(checks, n, syndrome, correction)
        # Weights are rounded to integers relative to the largest; allow that rounding.
        ours = float(np.dot(weights, correction))
        best = min_correction_weight(checks, n, weights, syndrome)
        assert ours == pytest.approx(best, abs=n * weights.max() / 2**14)


@pytest.mark.parametrize("distance,p", [(3, 0.003), (5, 0.003), (5, 0.01), (7, 0.005)])
def test_predictions_agree_with_pymatching(distance, p):
    c = circuit(distance, p)
    dem = c.detector_error_model(decompose_errors=True)
    shots = 20000 if distance < 7 else 6000
    dets, obs = c.compile_detector_sampler(seed=distance).sample(shots, separate_observables=True, bit_packed=True)
    ours = vx.MatchingDecoder.from_detector_error_model(dem).predict_observables_batch(dets, bit_packed=True)
    peer = pymatching.Matching.from_detector_error_model(dem).decode_batch(
        dets, bit_packed_shots=True, bit_packed_predictions=True)
    assert np.mean(np.all(ours == peer, axis=1)) >= 0.999
    ours_rate, peer_rate = np.mean(np.any(ours != obs, axis=1)), np.mean(np.any(peer != obs, axis=1))
    assert abs(ours_rate - peer_rate) <= 3 * np.sqrt(max(peer_rate, 1e-4) / shots)


def test_single_packed_and_unpacked_predictions_agree():
    c = circuit(5, 0.01)
    dec = vx.MatchingDecoder.from_detector_error_model(c.detector_error_model(decompose_errors=True))
    dets = c.compile_detector_sampler(seed=3).sample(300)
    batch = dec.predict_observables_batch(dets)
    packed = dec.predict_observables_batch(np.packbits(dets, axis=1, bitorder="little"), bit_packed=True)
    assert np.array_equal(np.unpackbits(packed, axis=1, bitorder="little")[:, :dec.num_observables], batch)
    assert dec.num_observables == 1 and dec.n_checks == c.num_detectors
    for k in range(0, 300, 37):
        assert np.array_equal(dec.predict_observables(dets[k]), batch[k])
        assert np.array_equal(dec.predict_observables(dets[k].astype(bool)), batch[k])


BATCH_CODE = """
import numpy as np, vornex_decoder_v3 as vx
from codes import rotated_sector_top_bottom, syndrome_of
checks, n = rotated_sector_top_bottom(9)
rng = np.random.default_rng(5)
dec = vx.MatchingDecoder(checks, n, weights=list(rng.uniform(0.5, 3.0, n)))
errors = (rng.random((400, n)) < 0.08).astype(np.uint8)
syndromes = np.array([syndrome_of(checks, e) for e in errors], dtype=np.uint8)
batch = dec.batch_decode(syndromes)
assert all(np.array_equal(batch[k], dec.decode(syndromes[k])) for k in range(400))
print(batch.sum(), batch.shape)
"""


def test_batch_rows_equal_single_decodes_with_one_and_two_workers():
    assert run_with_workers(BATCH_CODE, 1) == run_with_workers(BATCH_CODE, 2)


def test_errors_are_clear():
    dec = vx.MatchingDecoder([[0, 1], [1, 2]], 3)
    assert error_text(ValueError, lambda: dec.predict_observables(np.zeros(2, np.uint8))) == (
        no_observables_text("MatchingDecoder"))
    with pytest.raises(ValueError):
        dec.decode(np.zeros(3, np.uint8))
    with pytest.raises(ValueError):
        vx.MatchingDecoder([[0], [0], [0]], 1)
    with pytest.raises(ValueError):
        vx.MatchingDecoder([[0, 1]], 2, weights=[1.0, -1.0])
    # A part of the graph without a boundary and with one fired check has no explanation.
    ring = vx.MatchingDecoder([[0, 2], [0, 1], [1, 2]], 3)
    with pytest.raises(ValueError):
        ring.decode(np.array([0, 1, 0], np.uint8))
    with pytest.raises(ValueError):
        ring.batch_decode(np.array([[1, 1, 0], [0, 0, 1]], np.uint8))
    assert np.array_equal(ring.decode(np.array([1, 1, 0], np.uint8)), [1, 0, 0])
    # The same from a model, in either packing.
    ring_model = vx.MatchingDecoder.from_detector_error_model("error(0.1) D0 D2 L0\nerror(0.1) D0 D1\nerror(0.1) D1 D2")
    shots = np.array([[1, 1, 0], [0, 0, 0], [0, 1, 0], [1, 0, 0]], np.uint8)
    for bit_packed in (False, True):
        rows = np.packbits(shots, axis=1, bitorder="little") if bit_packed else shots
        with pytest.raises(ValueError):
            ring_model.predict_observables_batch(rows, bit_packed=bit_packed)
    with pytest.raises(ValueError):
        vx.MatchingDecoder.from_detector_error_model("error(0.7) D0 D1")
