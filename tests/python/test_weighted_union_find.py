"""WeightedUnionFindDecoder: corrections that reproduce their syndromes on
sampled circuit shots, equal weights against UnionFindDecoder, logical error
rates against pymatching and the defined decoder on the same shots,
predictions single/batch/packed against each other, and the error texts."""
import math

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import error_text, no_observables_text, rotated_sector_top_bottom, syndrome_of
from test_blossom_codes import run_with_workers
from test_matching_decoder import BATCH_CODE as MATCHING_BATCH_CODE
from test_matching_decoder import circuit

stim = pytest.importorskip("stim")
pymatching = pytest.importorskip("pymatching")


def graph_code(dem):
    """Check lists and weights of a decomposed model, written independently of the
    module: one column per component, parallel components not merged."""
    checks = [[] for _ in range(dem.num_detectors)]
    weights = []
    for instruction in dem.flattened():
        if instruction.type != "error":
            continue
        p = instruction.args_copy()[0]
        component = []
        for target in instruction.targets_copy() + [stim.target_separator()]:
            if target.is_separator():
                detectors = [t.val for t in component if t.is_relative_detector_id()]
                if detectors:
                    for d in detectors:
                        checks[d].append(len(weights))
                    weights.append(math.log((1 - p) / p))
                component = []
            else:
                component.append(target)
    for check in checks:
        if not check:  # a detector no error touches: a self-loop column, never flipped
            check += [len(weights)] * 2
            weights.append(weights[0])
    return checks, weights


@pytest.mark.parametrize("distance,p", [(3, 0.01), (5, 0.005)])
def test_corrections_reproduce_sampled_syndromes(distance, p):
    c = circuit(distance, p)
    checks, weights = graph_code(c.detector_error_model(decompose_errors=True))
    dec = vx.WeightedUnionFindDecoder(checks, None, weights=weights)
    events = c.compile_detector_sampler(seed=distance).sample(2000).astype(np.uint8)
    corrections = dec.batch_decode(events)
    assert corrections.shape == (2000, len(weights))
    for row, correction in zip(events, corrections):
        assert np.array_equal(syndrome_of(checks, correction), row)


@pytest.mark.parametrize("code", ["repetition", "ring", "rotated"])
def test_equal_weights_give_the_defined_corrections(code):
    if code == "rotated":
        checks, n = rotated_sector_top_bottom(7)
    else:
        make = {"repetition": vx.py_generate_repetition_code_checks, "ring": vx.py_generate_ring_code_checks}[code]
        checks, n = make(9)
    rng = np.random.default_rng(len(checks))
    errors = (rng.random((300, n)) < 0.1).astype(np.uint8)
    syndromes = np.array([syndrome_of(checks, e) for e in errors], dtype=np.uint8)
    expected = vx.UnionFindDecoder(checks, n).batch_decode(syndromes)
    for weights in (None, [2.5] * n):
        dec = vx.WeightedUnionFindDecoder(checks, n, weights=weights)
        assert np.array_equal(dec.batch_decode(syndromes), expected)
        assert all(np.array_equal(dec.decode(syndromes[k]), expected[k]) for k in range(0, 300, 17))


def test_a_heavy_edge_is_avoided():
    # Chain b - c0 - c1 - c2 - c3 - b with events on c1 and c2: the defined decoder
    # joins them through qubit 2; when that qubit is heavy both go to the boundary.
    checks = [[0, 1], [1, 2], [2, 3], [3, 4]]
    syndrome = np.array([0, 1, 1, 0], np.uint8)
    assert np.array_equal(vx.WeightedUnionFindDecoder(checks, 5).decode(syndrome), [0, 0, 1, 0, 0])
    heavy = vx.WeightedUnionFindDecoder(checks, 5, weights=[1.0, 1.0, 10.0, 1.0, 1.0])
    assert np.array_equal(heavy.decode(syndrome), [1, 1, 0, 1, 1])


def test_logical_error_rate_near_matching_and_below_the_defined_decoder():
    # d = 5 at p = 0.005: the peer sees about 1.8e-2, the defined decoder about 2.4e-2.
    c = circuit(5, 0.005)
    dem = c.detector_error_model(decompose_errors=True)
    shots = 30000
    events, actual = c.compile_detector_sampler(seed=11).sample(shots, separate_observables=True)

    def failures(predicted):
        return int(np.any(predicted != actual, axis=1).sum())

    peer = failures(pymatching.Matching.from_detector_error_model(dem).decode_batch(events))
    defined = failures(vx.UnionFindDecoder.from_detector_error_model(dem).predict_observables_batch(events))
    ours = failures(vx.WeightedUnionFindDecoder.from_detector_error_model(dem).predict_observables_batch(events))
    assert peer > 300
    assert ours <= 1.25 * peer, (ours, peer, defined)
    assert ours < defined, (ours, peer, defined)


def test_single_bool_packed_and_batch_predictions_agree():
    c = circuit(5, 0.01)
    dem = c.detector_error_model(decompose_errors=True)
    dec = vx.WeightedUnionFindDecoder.from_detector_error_model(dem)
    assert dec.num_observables == 1 and dec.n_checks == c.num_detectors
    dets = c.compile_detector_sampler(seed=3).sample(400)
    batch = dec.predict_observables_batch(dets)
    assert batch.shape == (400, 1) and batch.dtype == np.uint8
    assert np.array_equal(dec.predict_observables_batch(dets.astype(np.uint8)), batch)
    packed = dec.predict_observables_batch(np.packbits(dets, axis=1, bitorder="little"), bit_packed=True)
    assert np.array_equal(np.unpackbits(packed, axis=1, bitorder="little")[:, :1], batch)
    assert batch.any() and not batch.all()
    for k in range(0, 400, 23):
        assert np.array_equal(dec.predict_observables(dets[k]), batch[k])
        assert np.array_equal(dec.predict_observables(dets[k].astype(np.uint8)), batch[k])
        row_packed = np.packbits(dets[k], bitorder="little")
        assert np.array_equal(dec.predict_observables(row_packed, bit_packed=True), packed[k])


# The matching decoder's batch-against-single program, on this class.
BATCH_CODE = MATCHING_BATCH_CODE.replace("vx.MatchingDecoder(", "vx.WeightedUnionFindDecoder(")


def test_batch_rows_equal_single_decodes_with_one_and_two_workers():
    assert "vx.WeightedUnionFindDecoder(" in BATCH_CODE
    assert run_with_workers(BATCH_CODE, 1) == run_with_workers(BATCH_CODE, 2)


def test_errors_are_clear():
    dec = vx.WeightedUnionFindDecoder([[0, 1], [1, 2]], 3)
    assert dec.num_observables == 0 and dec.n_qubits == 3 and dec.n_checks == 2
    assert error_text(ValueError, lambda: dec.predict_observables(np.zeros(2, np.uint8))) == (
        no_observables_text("WeightedUnionFindDecoder"))
    with pytest.raises(ValueError):
        dec.decode(np.zeros(3, np.uint8))
    with pytest.raises(ValueError):
        dec.batch_decode(np.zeros((4, 3), np.uint8))
    with pytest.raises(ValueError):
        vx.WeightedUnionFindDecoder([[0, 1], [1, 2]], 3, weights=[1.0, 1.0])
    with pytest.raises(ValueError):
        vx.WeightedUnionFindDecoder([[0, 1], [1, 2]], 3, weights=[1.0, -1.0, 1.0])
    with pytest.raises(ValueError):
        vx.WeightedUnionFindDecoder([[0, 1], [1, 2]], 3, weights=[1.0, 1.0, float("nan")])
    with pytest.raises(ValueError):
        vx.WeightedUnionFindDecoder.from_detector_error_model("error(0.7) D0 D1")
    with pytest.raises(TypeError):
        vx.WeightedUnionFindDecoder([[0, 1]], 2, [1.0, 1.0])  # weights is keyword-only


def test_docstrings():
    cls = vx.WeightedUnionFindDecoder
    assert cls.__text_signature__ == "(check_to_qubits, n_qubits, *, weights=None)"
    for name in ("decode", "batch_decode", "from_detector_error_model", "predict_observables",
                 "predict_observables_batch", "n_qubits", "n_checks", "num_observables"):
        assert getattr(cls, name).__doc__, name
    assert "weight" in cls.__doc__
