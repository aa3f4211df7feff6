"""Correlated matching and per-shot edge weights on MatchingDecoder: failures
against pymatching's correlated mode on the same sampled circuit shots,
decode_to_edges against the predictions, per-shot weights that act on one
shot only, and the error texts."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx

stim = pytest.importorskip("stim")
pymatching = pytest.importorskip("pymatching")

from test_matching_decoder import circuit


@pytest.mark.parametrize("distance,p,shots", [(3, 0.01, 40000), (5, 0.007, 30000), (7, 0.006, 12000)])
def test_failures_agree_with_pymatching_correlated_on_the_same_shots(distance, p, shots):
    c = circuit(distance, p)
    dem = c.detector_error_model(decompose_errors=True)
    dets, obs = c.compile_detector_sampler(seed=distance).sample(shots, separate_observables=True, bit_packed=True)
    dec = vx.MatchingDecoder.from_detector_error_model(dem, enable_correlations=True)
    ours = np.any(dec.predict_observables_batch(dets, bit_packed=True) != obs, axis=1)
    peer = np.any(pymatching.Matching.from_detector_error_model(dem, enable_correlations=True).decode_batch(
        dets, bit_packed_shots=True, bit_packed_predictions=True, enable_correlations=True) != obs, axis=1)
    plain = np.any(dec.predict_observables_batch(dets, bit_packed=True, enable_correlations=False) != obs, axis=1)
    # Paired: only shots where exactly one of the two fails tell them apart;
    # tie-breaking differs, so allow three standard errors and a margin.
    ours_only, peer_only = int(np.sum(ours & ~peer)), int(np.sum(peer & ~ours))
    assert abs(ours_only - peer_only) <= 3 * np.sqrt(ours_only + peer_only) + 5, (ours_only, peer_only)
    assert ours.sum() < plain.sum()


def test_decode_to_edges_explains_the_events_and_the_predictions():
    c = circuit(5, 0.01)
    dem = c.detector_error_model(decompose_errors=True)
    dec = vx.MatchingDecoder.from_detector_error_model(dem, enable_correlations=True)
    peer = pymatching.Matching.from_detector_error_model(dem)
    observables_of = {}
    for e in peer.edges():
        u, v, data = e
        observables_of[(u, -1 if v is None else v)] = data["fault_ids"]
    dets = c.compile_detector_sampler(seed=11).sample(200)
    for row in dets:
        for correlated in (False, True):
            edges = dec.decode_to_edges(row, enable_correlations=correlated)
            assert edges.dtype == np.int64 and edges.shape[1] == 2
            fired = np.zeros(dem.num_detectors, np.uint8)
            flips = np.zeros(dem.num_observables, np.uint8)
            for u, v in edges:
                fired[u] ^= 1
                if v >= 0:
                    fired[v] ^= 1
                key = (min(u, v), max(u, v)) if v >= 0 else (u, -1)
                for o in observables_of[key]:
                    flips[o] ^= 1
            assert np.array_equal(fired, row)
            assert np.array_equal(flips, dec.predict_observables(row, enable_correlations=correlated))


def test_reweight_acts_on_its_shot_only():
    # A line 0 - 1 - 2 with boundary edges at both ends; edge columns in
    # graph-view order: (0, 1), (0, B), (1, 2), (2, B).
    dec = vx.MatchingDecoder.from_detector_error_model(
        "error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1 D2\nerror(0.01) D2")
    event = np.array([1, 0, 0], np.uint8)
    assert dec.decode_to_edges(event).tolist() == [[0, -1]]
    assert dec.predict_observables(event).tolist() == [1]
    # Make the left boundary dear for this shot: the right way out wins.
    cheap_right = [(1, 30.0), (3, 0.5)]
    assert sorted(dec.decode_to_edges(event, reweight=cheap_right).tolist()) == [[0, 1], [1, 2], [2, -1]]
    assert dec.predict_observables(event, reweight=cheap_right).tolist() == [0]
    assert dec.decode_to_edges(event).tolist() == [[0, -1]]
    assert dec.predict_observables(event).tolist() == [1]


def test_error_texts():
    plain = vx.MatchingDecoder.from_detector_error_model("error(0.1) D0 D1 ^ D1\nerror(0.1) D0")
    with pytest.raises(ValueError, match=r"^MatchingDecoder was built without correlations; build it with "
                       r"MatchingDecoder\.from_detector_error_model\(model, enable_correlations=True\) to decode "
                       r"with them$"):
        plain.predict_observables(np.array([1, 0], np.uint8), enable_correlations=True)
    with pytest.raises(ValueError, match=r"^weight override 0 names edge 9, but the graph has 3 edges$"):
        plain.decode_to_edges(np.array([1, 1], np.uint8), reweight=[(9, 1.0)])
    with pytest.raises(ValueError, match=r"^weight override 1 \(edge 0\) is -2\.000000; weights must be finite "
                       r"and >= 0$"):
        plain.predict_observables(np.array([1, 1], np.uint8), reweight=[(1, 1.0), (0, -2.0)])
    with pytest.raises(ValueError, match=r"^line 1: error\(0\.7\) flips 2 edges together with probability above "
                       r"1/2; correlated matching needs decomposed errors of probability <= 1/2$"):
        vx.MatchingDecoder.from_detector_error_model("error(0.7) D0 ^ D1\nerror(0.7) D0 ^ D1",
                                                     enable_correlations=True)
    assert not plain.enable_correlations
    assert vx.MatchingDecoder.from_detector_error_model("error(0.1) D0", enable_correlations=True).enable_correlations
