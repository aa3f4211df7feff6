"""DetectorErrorModel against stim's own reading of the same models, and the
decoders built from models: predictions against corrections mapped by hand
through a plain Python graph view, packed against unpacked, argument errors,
and the weighted matching decoder against pymatching on sampled shots."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import error_text, no_observables_text

stim = pytest.importorskip("stim")
pymatching = pytest.importorskip("pymatching")

FAMILIES = [vx.UnionFindDecoder, vx.BlossomDecoder, vx.LookupTableDecoder]


def circuit(task, distance, p, rounds=None):
    return stim.Circuit.generated(
        task, distance=distance, rounds=rounds or distance,
        after_clifford_depolarization=p, before_measure_flip_probability=p / 2,
        after_reset_flip_probability=p / 2, before_round_data_depolarization=p / 3)


# (task, distance, noise, decompose): every family of the usual generator,
# distances 3 to 9, several noise rates, with and without decomposition
# (the colour code decomposes only at small distance).
READER_CASES = [
    (task, d, p, decompose)
    for task in ("surface_code:rotated_memory_x", "surface_code:rotated_memory_z",
                 "surface_code:unrotated_memory_x", "surface_code:unrotated_memory_z",
                 "repetition_code:memory")
    for d, p in ((3, 0.001), (5, 0.01), (7, 0.003), (9, 0.02))
    for decompose in (True, False)
] + [("color_code:memory_xyz", 3, 0.005, True)] + [
    ("color_code:memory_xyz", d, p, False) for d, p in ((3, 0.001), (5, 0.01), (7, 0.004), (9, 0.002))]


def odd_ids(targets, kind):
    ids = set()
    for t in targets:
        if (kind == "D" and t.is_relative_detector_id()) or (kind == "L" and t.is_logical_observable_id()):
            ids ^= {t.val}
    return tuple(sorted(ids))


@pytest.mark.parametrize("task,distance,p,decompose", READER_CASES)
def test_reader_matches_stim_flattened_model(task, distance, p, decompose):
    dem = circuit(task, distance, p).detector_error_model(decompose_errors=decompose)
    model = vx.DetectorErrorModel(str(dem))
    assert (model.num_detectors, model.num_observables, model.num_errors) == (
        dem.num_detectors, dem.num_observables, dem.num_errors)
    # stim's reading of the same text, so both parse the same digits.
    expected = [
        (ins.args_copy()[0], odd_ids(ins.targets_copy(), "D"), odd_ids(ins.targets_copy(), "L"))
        for ins in stim.DetectorErrorModel(str(dem)).flattened() if ins.type == "error"]
    assert model.errors() == expected
    assert model.detector_coordinates() == {
        d: c for d, c in dem.get_detector_coordinates().items() if c}


def test_reader_accepts_every_source_and_reports_lines(tmp_path):
    dem = circuit("repetition_code:memory", 3, 0.01).detector_error_model()
    path = tmp_path / "model.dem"
    path.write_text(str(dem))
    models = [vx.DetectorErrorModel(str(dem)), vx.DetectorErrorModel.from_file(path),
              vx.DetectorErrorModel.from_file(str(path))]
    assert all(m.errors() == models[0].errors() for m in models)
    # Every family takes a model object, text, a path or stim's object.
    for source in (models[0], str(dem), path, dem):
        assert vx.UnionFindDecoder.from_detector_error_model(source).n_checks == dem.num_detectors
    with pytest.raises(ValueError):
        vx.DetectorErrorModel("error(0.1) D0\n\neror(0.1) D1\n")
    with pytest.raises(FileNotFoundError):
        vx.DetectorErrorModel.from_file(tmp_path / "missing.dem")
    with pytest.raises(TypeError, match="argument 'text': expected str, got bytes"):
        vx.DetectorErrorModel(b"error(0.1) D0")


def python_graph_columns(dem):
    """Plain graph view: components merged per detector pair in model order,
    columns sorted by (u, v) with the boundary last, then one placeholder per
    untouched detector. Returns the observables of each column."""
    edges = {}
    for ins in dem.flattened():
        if ins.type != "error" or ins.args_copy()[0] == 0:
            continue
        p = ins.args_copy()[0]
        component = []
        for t in ins.targets_copy() + [stim.target_separator()]:
            if not t.is_separator():
                component.append(t)
                continue
            dets, obs = odd_ids(component, "D"), odd_ids(component, "L")
            component = []
            if not dets:
                continue
            key = (dets[0], dets[1] if len(dets) == 2 else float("inf"))
            if key in edges:
                q, first_obs = edges[key]
                edges[key] = (q * (1 - p) + p * (1 - q), first_obs)
            else:
                edges[key] = (p, obs)
    keys = sorted(k for k, (q, _) in edges.items() if q > 0)
    columns = [edges[k][1] for k in keys]
    touched = {d for k in keys for d in k}
    columns += [() for d in range(dem.num_detectors) if d not in touched]
    return columns


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("task,distance,p", [
    ("surface_code:rotated_memory_z", 3, 0.004), ("surface_code:unrotated_memory_x", 5, 0.005),
    ("repetition_code:memory", 7, 0.03)])
def test_predictions_equal_corrections_mapped_by_hand(family, task, distance, p):
    c = circuit(task, distance, p)
    dem = c.detector_error_model(decompose_errors=True)
    dets, obs = c.compile_detector_sampler(seed=distance).sample(3000, separate_observables=True)
    decoder = family.from_detector_error_model(dem)
    columns = python_graph_columns(dem)
    assert decoder.n_qubits == len(columns)
    column_obs = np.zeros((len(columns), dem.num_observables), dtype=np.uint8)
    for col, ids in enumerate(columns):
        column_obs[col, list(ids)] = 1
    corrections = decoder.batch_decode(dets.astype(np.uint8))
    by_hand = (corrections.astype(np.int64) @ column_obs) % 2
    predicted = decoder.predict_observables_batch(dets)
    np.testing.assert_array_equal(predicted, by_hand)
    assert np.mean(np.any(predicted != obs, axis=1)) == np.mean(np.any(by_hand != obs, axis=1))
    for shot in range(0, 3000, 97):
        np.testing.assert_array_equal(decoder.predict_observables(dets[shot]), predicted[shot])


def many_observables_model():
    """A repetition chain whose every edge flips its own observable (12 of
    them, so packed predictions take two bytes)."""
    lines = [f"error(0.05) D{i} D{i + 1} L{i}" for i in range(11)]
    lines += ["error(0.05) D0 L11", "error(0.05) D11"]
    return "\n".join(lines)


@pytest.mark.parametrize("family", FAMILIES)
def test_packed_and_unpacked_agree_bit_for_bit(family):
    c = circuit("surface_code:rotated_memory_x", 3, 0.01)
    models = [(c.detector_error_model(decompose_errors=True), None), (many_observables_model(), 12)]
    rng = np.random.default_rng(5)
    for dem, n_obs in models:
        decoder = family.from_detector_error_model(dem)
        n_det = decoder.n_checks
        dets = rng.random((513, n_det)) < 0.1
        packed_in = np.packbits(dets, axis=1, bitorder="little")
        plain = decoder.predict_observables_batch(dets)
        assert plain.dtype == np.uint8 and plain.shape[0] == 513
        packed = decoder.predict_observables_batch(packed_in, bit_packed=True)
        np.testing.assert_array_equal(packed, np.packbits(plain, axis=1, bitorder="little"))
        np.testing.assert_array_equal(decoder.predict_observables_batch(dets.astype(np.uint8)), plain)
        np.testing.assert_array_equal(decoder.predict_observables_batch(np.asfortranarray(dets)), plain)
        np.testing.assert_array_equal(decoder.predict_observables_batch(np.repeat(dets, 2, axis=1)[:, ::2]), plain)
        np.testing.assert_array_equal(decoder.predict_observables(packed_in[7], bit_packed=True), packed[7])
        if n_obs:
            assert plain.shape[1] == n_obs and packed.shape[1] == 2


def test_stim_packed_samples_decode_like_unpacked():
    c = circuit("surface_code:rotated_memory_z", 5, 0.005)
    decoder = vx.BlossomDecoder.from_detector_error_model(c.detector_error_model(decompose_errors=True))
    packed_dets, packed_obs = c.compile_detector_sampler(seed=3).sample(
        2000, separate_observables=True, bit_packed=True)
    dets, obs = c.compile_detector_sampler(seed=3).sample(2000, separate_observables=True)
    np.testing.assert_array_equal(decoder.predict_observables_batch(packed_dets, bit_packed=True),
                                  np.packbits(decoder.predict_observables_batch(dets), axis=1, bitorder="little"))


def test_wrong_inputs_give_clear_errors():
    decoder = vx.UnionFindDecoder.from_detector_error_model(many_observables_model())
    ok = np.zeros((4, 12), dtype=np.uint8)
    with pytest.raises(TypeError, match="argument 'detection_events': expected an array of dtype uint8 or bool, "
                                        "got dtype float64"):
        decoder.predict_observables_batch(ok.astype(np.float64))
    with pytest.raises(TypeError, match="expected a numpy.ndarray of dtype uint8 or bool, got list"):
        decoder.predict_observables([0] * 12)
    with pytest.raises(ValueError, match=r"^detection_events: expected shape \(shots, 12\) \(one byte per "
                                         r"detector\), got \[4, 13\]$"):
        decoder.predict_observables_batch(np.zeros((4, 13), dtype=np.uint8))
    with pytest.raises(ValueError, match=r"^detection_events: expected shape \(shots, 2\) \(12 detectors "
                                         r"bit-packed into 2 bytes per shot\), got \[4, 12\]$"):
        decoder.predict_observables_batch(ok, bit_packed=True)
    with pytest.raises(ValueError, match=r"expected shape \(12,\) \(one byte per detector\), got \[1, 12\]"):
        decoder.predict_observables(ok[:1])
    with pytest.raises(ValueError, match=r"expected shape \(shots, 12\) .*got \[12\]"):
        decoder.predict_observables_batch(ok[0])
    bad = ok.copy()
    bad[2, 5] = 2
    with pytest.raises(ValueError):
        decoder.predict_observables_batch(bad)
    plain = vx.UnionFindDecoder([[0, 1], [1, 2]], 3)
    assert error_text(ValueError, lambda: plain.predict_observables(np.zeros(2, dtype=np.uint8))) == (
        no_observables_text("UnionFindDecoder"))


def test_models_a_family_cannot_take_are_refused():
    undecomposed = circuit("surface_code:rotated_memory_x", 3, 0.01).detector_error_model()
    for family in FAMILIES:
        with pytest.raises(ValueError):
            family.from_detector_error_model(undecomposed)
    with pytest.raises(ValueError):
        vx.BlossomDecoder.from_detector_error_model("error(0.7) D0 D1\nerror(0.1) D1")
    # Without weights a probability above one half is only an edge.
    assert vx.UnionFindDecoder.from_detector_error_model("error(0.7) D0 D1\nerror(0.1) D1").n_qubits == 2
    with pytest.raises(ValueError):
        vx.LookupTableDecoder.from_detector_error_model("error(0.1) L0")


@pytest.mark.parametrize("distance,p", [(3, 0.001), (3, 0.005), (5, 0.001), (5, 0.003), (5, 0.005)])
def test_blossom_agrees_with_pymatching_on_sampled_shots(distance, p):
    c = circuit("surface_code:rotated_memory_x", distance, p)
    dem = c.detector_error_model(decompose_errors=True)
    dets, obs = c.compile_detector_sampler(seed=11).sample(20000, separate_observables=True, bit_packed=True)
    ours = vx.BlossomDecoder.from_detector_error_model(dem).predict_observables_batch(dets, bit_packed=True)
    peer = pymatching.Matching.from_detector_error_model(dem).decode_batch(dets, bit_packed_shots=True,
                                                                            bit_packed_predictions=True)
    assert np.mean(np.all(ours == peer, axis=1)) >= 0.999
    ours_rate, peer_rate = np.mean(np.any(ours != obs, axis=1)), np.mean(np.any(peer != obs, axis=1))
    assert abs(ours_rate - peer_rate) <= 3 * np.sqrt(max(peer_rate, 1e-4) / 20000)


def test_one_model_object_serves_every_family():
    model = vx.DetectorErrorModel(many_observables_model())
    decoders = [family.from_detector_error_model(model) for family in FAMILIES]
    assert model.num_errors == 13 and model.num_observables == 12
    events = np.zeros(12, dtype=np.uint8)
    events[3:5] = 1  # the edge D3 - D4 flips L3
    for decoder in decoders:
        assert list(np.flatnonzero(decoder.predict_observables(events))) == [3]
