"""BPOSDDecoder's keyword settings, batches, detector-error-model entry point and predictions."""
import inspect
import pathlib

import numpy as np
import pytest
import stim

import vornex_decoder_v3 as vx
from codes import error_text, no_observables_text, parity_matrix

RING = [[i, (i + 1) % 9, (i + 3) % 9] for i in range(9)]


def u8(values):
    return np.array(values, dtype=np.uint8)


def random_syndromes(checks, n, p, shots, seed):
    h = parity_matrix(checks, n)
    errors = (np.random.default_rng(seed).random((shots, n)) < p).astype(np.uint8)
    return (errors @ h.T % 2).astype(np.uint8), h


def surface_model(distance, p):
    circuit = stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=distance, after_clifford_depolarization=p,
        before_measure_flip_probability=p, after_reset_flip_probability=p,
    )
    return circuit, circuit.detector_error_model()


def test_default_settings_are_the_defined_decoder_and_others_change_results():
    syndromes, _ = random_syndromes(RING, 9, 0.2, 200, 1)
    defined = vx.BPOSDDecoder(RING, None, 0.2)
    spelled_out = vx.BPOSDDecoder(RING, None, 0.2, max_iter=50, bp_method="minimum_sum", ms_scaling_factor=1.0,
                                  schedule="parallel", stop="posterior", osd_method="osd_0", osd_order=0)
    soft = [vx.BPOSDDecoder(RING, None, 0.2, bp_method=m).bp_decode(syndromes[3], 50) for m in ("ms", "ps")]
    for s in syndromes:
        assert np.array_equal(defined.decode(s), spelled_out.decode(s))
        assert np.array_equal(defined.bp_decode(s, 7), spelled_out.bp_decode(s, 7))
    assert not np.allclose(soft[0], soft[1])


@pytest.mark.parametrize("kwargs", [
    {},
    {"stop": "syndrome", "osd_method": "osd_cs", "osd_order": 3},
    {"bp_method": "product_sum", "schedule": "serial", "osd_method": "osd_e", "osd_order": 2},
    {"ms_scaling_factor": 0.625, "max_iter": 5, "error_channel": [0.1 + 0.01 * q for q in range(9)]},
])
def test_batch_rows_equal_single_decodes_and_reproduce_syndromes(kwargs):
    syndromes, h = random_syndromes(RING, 9, 0.15, 300, 2)
    dec = vx.BPOSDDecoder(RING, None, 0.15, **kwargs)
    batch = dec.batch_decode(syndromes)
    assert batch.shape == (300, 9) and batch.dtype == np.uint8
    for s, row in zip(syndromes, batch):
        assert np.array_equal(row, dec.decode(s))
        assert np.array_equal(h @ row % 2, s)


def test_higher_order_osd_is_never_heavier_than_osd0_under_the_priors():
    checks, n = vx.py_generate_surface_code_checks(4)
    syndromes, _ = random_syndromes(checks, n, 0.12, 200, 3)
    rates = np.random.default_rng(5).uniform(0.01, 0.2, n)
    llr = np.log((1 - rates) / rates)
    base = dict(error_channel=list(rates), max_iter=2, stop="syndrome")
    osd0 = vx.BPOSDDecoder(checks, n, 0.1, **base)
    lighter = 0
    for method in ("osd_e", "osd_cs"):
        higher = vx.BPOSDDecoder(checks, n, 0.1, osd_method=method, osd_order=4, **base)
        for s in syndromes:
            w0, w = llr @ osd0.decode(s), llr @ higher.decode(s)
            assert w <= w0 + 1e-9
            lighter += w < w0 - 1e-9
    assert lighter > 10


def test_bad_settings_are_value_errors():
    # The texts are the settings' own (asserted where they are produced); here
    # each bad setting reaches the constructor as a ValueError.
    for kwargs in ({"bp_method": "sum"}, {"schedule": "random"}, {"stop": "never"}, {"osd_method": "osd_x"},
                   {"ms_scaling_factor": 0.0}, {"osd_method": "osd_e", "osd_order": 21},
                   {"error_channel": [0.1] * 8}, {"error_channel": [0.1] * 8 + [2.0]}):
        with pytest.raises(ValueError):
            vx.BPOSDDecoder(RING, None, 0.1, **kwargs)
    for cls in (vx.BPOSDDecoder, vx.RelayBPDecoder):
        for order in (-1, -2**70):  # a count: negative is a wrong value, not an overflow
            assert (error_text(ValueError, lambda: cls.from_detector_error_model("error(0.1) D0 L0", osd_order=order))
                    == f"osd_order must be >= 0, got {order}")
    vx.BPOSDDecoder(RING, None, 0.1, max_iter=10)
    with pytest.raises(ValueError):
        vx.BPOSDDecoder(RING, None, 1.5, max_iter=10)
    with pytest.raises(TypeError):
        vx.BPOSDDecoder(RING, None, 0.1, 1e-3)  # settings are keyword-only
    dec = vx.BPOSDDecoder(RING, None, 0.1, stop="syndrome")
    with pytest.raises(ValueError):
        dec.decode(u8([1, 0, 0]))
    assert error_text(ValueError, lambda: dec.predict_observables(u8([0] * 9))) == no_observables_text("BPOSDDecoder")


# The model entry point's defaults (scaled min-sum, syndrome stop, OSD-CS 7) and the defined ones.
MODEL_DEFAULTS = dict(max_iter=50, bp_method="minimum_sum", ms_scaling_factor=0.625, schedule="parallel",
                      stop="syndrome", osd_method="osd_cs", osd_order=7)
DEFINED = dict(max_iter=50, bp_method="minimum_sum", ms_scaling_factor=1.0, schedule="parallel",
               stop="posterior", osd_method="osd_0", osd_order=0)


def test_model_entry_point_defaults_are_scaled_min_sum_with_syndrome_stop_and_osd_cs7():
    circuit = stim.Circuit.generated("color_code:memory_xyz", distance=3, rounds=3,
                                     after_clifford_depolarization=0.01, before_measure_flip_probability=0.01)
    dem = circuit.detector_error_model()
    det = circuit.compile_detector_sampler(seed=5).sample(300).astype(np.uint8)

    def predict(**settings):
        return vx.BPOSDDecoder.from_detector_error_model(dem, **settings).predict_observables_batch(det)
    default = predict()
    assert np.array_equal(default, predict(**MODEL_DEFAULTS))
    # Each default that differs from the defined decoder's changes some predictions here.
    for key in ("ms_scaling_factor", "stop", "osd_method"):
        assert not np.array_equal(default, predict(**{**MODEL_DEFAULTS, key: DEFINED[key]})), key
    # The constructors keep the defined defaults (their results are guarded by the defined digests).
    for entry in (vx.BPOSDDecoder, vx.BPOSDDecoder.from_check_matrix):
        keywords = {k: v.default for k, v in inspect.signature(entry).parameters.items() if k in DEFINED}
        assert keywords == DEFINED


def test_model_entry_point_reads_text_paths_and_stim_models(tmp_path):
    circuit, dem = surface_model(3, 0.004)
    path = tmp_path / "model.dem"
    path.write_text(str(dem))
    settings = dict(stop="syndrome", osd_method="osd_cs", osd_order=4, max_iter=20)
    decoders = [vx.BPOSDDecoder.from_detector_error_model(m, **settings)
                for m in (dem, str(dem), path, pathlib.PurePath(path))]
    det, _ = circuit.compile_detector_sampler(seed=3).sample(200, separate_observables=True)
    det = det.astype(np.uint8)
    first = decoders[0].predict_observables_batch(det)
    for dec in decoders:
        assert (dec.n_qubits, dec.n_checks, dec.num_observables) == (dem.num_errors, dem.num_detectors, 1)
        assert np.array_equal(dec.predict_observables_batch(det), first)
    with pytest.raises(FileNotFoundError):
        vx.BPOSDDecoder.from_detector_error_model(tmp_path / "missing.dem")
    with pytest.raises(ValueError):
        vx.BPOSDDecoder.from_detector_error_model("error(0.1) Q1\n")


def test_predictions_single_batch_and_packed_agree_and_beat_chance():
    circuit, dem = surface_model(5, 0.003)
    dec = vx.BPOSDDecoder.from_detector_error_model(dem, stop="syndrome", osd_method="osd_cs", osd_order=4,
                                                     max_iter=30)
    det, obs = circuit.compile_detector_sampler(seed=9).sample(500, separate_observables=True)
    det = det.astype(np.uint8)
    batch = dec.predict_observables_batch(det)
    assert batch.shape == (500, 1) and batch.dtype == np.uint8
    for row, pred in zip(det[:50], batch[:50]):
        assert np.array_equal(dec.predict_observables(row), pred)
    packed_in = np.packbits(det, axis=1, bitorder="little")
    packed = dec.predict_observables_batch(packed_in, bit_packed=True)
    assert np.array_equal(packed, np.packbits(batch, axis=1, bitorder="little"))
    assert np.array_equal(dec.predict_observables(packed_in[0], bit_packed=True), packed[0])
    # Stim's samplers return bool arrays; they read as the same 0/1 events.
    assert np.array_equal(dec.predict_observables_batch(det.astype(bool)), batch)
    assert np.array_equal(dec.predict_observables(det[3].astype(bool)), batch[3])
    # A correct decoder fails rarely here; predicting "no flip" fails on about half the flipped shots.
    failures = np.count_nonzero(batch[:, 0] != obs[:, 0])
    assert failures < 0.2 * max(1, np.count_nonzero(obs[:, 0]))
    bad = det.copy()
    bad[7, 2] = 2
    with pytest.raises(ValueError):
        dec.predict_observables_batch(bad)
