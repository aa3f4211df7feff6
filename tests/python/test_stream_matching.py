"""StreamMatchingDecoder on Stim memory experiments: windowed against global matching (ours and pymatching on the
same shots), the same flips however the rounds arrive, longer streams from a short model, bad input, and memory
that stays flat over a million rounds."""
import math
import os
import pathlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest
import vornex_decoder_v3 as vx

stim = pytest.importorskip("stim")
pymatching = pytest.importorskip("pymatching")


def surface_circuit(d, rounds, p):
    return stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=rounds,
                                  after_clifford_depolarization=p, before_round_data_depolarization=p,
                                  before_measure_flip_probability=p, after_reset_flip_probability=p)


def sample(circuit, shots, seed):
    dets, obs = circuit.compile_detector_sampler(seed=seed).sample(shots, separate_observables=True)
    return dets.astype(np.uint8), obs.astype(np.uint8)


def failures(predictions, obs):
    return int(np.count_nonzero(np.any(predictions != obs, axis=1)))


def within_sampling_error(a, b):
    return abs(a - b) <= 3 * math.sqrt(a + b) + 1


def round_bounds(decoder):
    sizes = [decoder.round_size(r) for r in range(decoder.rounds)]
    return np.concatenate([[0], np.cumsum(sizes)]).astype(int)


@pytest.mark.parametrize("d", [3, 5, 7])
def test_a_buffer_of_the_distance_matches_globally_and_a_buffer_of_one_does_not(d):
    circuit = surface_circuit(d, 3 * d, 0.005)
    dem = circuit.detector_error_model(decompose_errors=True)
    dets, obs = sample(circuit, 4000, seed=d)
    ours = vx.MatchingDecoder.from_detector_error_model(dem).predict_observables_batch(dets)
    peer = pymatching.Matching.from_detector_error_model(dem).decode_batch(dets).astype(np.uint8)
    windowed = vx.StreamMatchingDecoder(circuit, window=2 * d, commit=d)
    assert windowed.distance == d and windowed.model_rounds == 3 * d + 1
    buffered = windowed.predict_observables_batch(dets)
    thin = vx.StreamMatchingDecoder(circuit, window=d + 1, commit=d).predict_observables_batch(dets)
    agreement = np.mean(np.all(buffered == ours, axis=1))
    assert agreement >= 0.99
    assert within_sampling_error(failures(buffered, obs), failures(ours, obs))
    assert within_sampling_error(failures(buffered, obs), failures(peer, obs))
    assert np.mean(np.all(thin == ours, axis=1)) < agreement
    assert failures(thin, obs) > failures(buffered, obs)


@pytest.mark.parametrize("d", [3, 5, 7])
def test_correlated_windows_match_global_correlated_matching(d):
    circuit = surface_circuit(d, 3 * d, 0.005)
    dem = circuit.detector_error_model(decompose_errors=True)
    dets, obs = sample(circuit, 4000, seed=d)
    ours = vx.MatchingDecoder.from_detector_error_model(dem, enable_correlations=True).predict_observables_batch(dets)
    peer = pymatching.Matching.from_detector_error_model(dem, enable_correlations=True).decode_batch(
        dets, enable_correlations=True).astype(np.uint8)
    windowed = vx.StreamMatchingDecoder(circuit, window=2 * d, commit=d, enable_correlations=True)
    assert windowed.enable_correlations
    buffered = windowed.predict_observables_batch(dets)
    assert np.mean(np.all(buffered == ours, axis=1)) >= 0.99
    assert within_sampling_error(failures(buffered, obs), failures(ours, obs))
    assert within_sampling_error(failures(buffered, obs), failures(peer, obs))
    # One window over the whole experiment is global correlated matching itself.
    whole = vx.StreamMatchingDecoder(circuit, window=3 * d + 1, commit=3 * d, enable_correlations=True)
    assert np.array_equal(whole.predict_observables_batch(dets), ours)
    parallel = np.array([windowed.decode_stream(shot) for shot in dets[:500]])
    assert np.mean(np.all(parallel == ours[:500], axis=1)) >= 0.99
    if d > 3:  # the second pass is what the windows add
        plain = vx.StreamMatchingDecoder(circuit, window=2 * d, commit=d).predict_observables_batch(dets)
        assert failures(buffered, obs) < failures(plain, obs)


@pytest.mark.parametrize("correlated", [False, True])
def test_rounds_one_by_one_in_chunks_or_whole_commit_the_same(correlated):
    circuit = surface_circuit(5, 15, 0.006)
    dets, _ = sample(circuit, 150, seed=3)
    decoder = vx.StreamMatchingDecoder(circuit, window=7, commit=3, enable_correlations=correlated)
    bounds = round_bounds(decoder)
    whole = decoder.predict_observables_batch(dets)
    for shot, expected in zip(dets, whole):
        for r in range(len(bounds) - 1):
            last = decoder.update(shot[bounds[r]:bounds[r + 1]].astype(bool))
        assert np.array_equal(last, expected)
        assert np.array_equal(decoder.flush(), expected)
        decoder.extend(shot[:bounds[4]])
        decoder.extend(shot[bounds[4]:bounds[-2]])
        assert np.array_equal(decoder.flush(shot[bounds[-2]:]), expected)
        flips, edges = decoder.extend(shot, with_edges=True)
        assert np.array_equal(flips, expected) and edges.dtype == np.int64 and edges.shape[1] == 2
        assert np.array_equal(decoder.flush(), expected)
    # A sample per round and per flush; flush(final_round) counts once.
    assert decoder.latency_stats()["count"] == 150 * (17 + 16 + 17)


@pytest.mark.parametrize("correlated", [False, True])
def test_a_longer_stream_repeats_the_models_middle_rounds(correlated):
    short = surface_circuit(3, 5, 0.01)
    long = surface_circuit(3, 60, 0.01)
    dets, _ = sample(long, 300, seed=5)
    on_long_model = vx.StreamMatchingDecoder(long, window=6, commit=3,
                                             enable_correlations=correlated).predict_observables_batch(dets)
    repeated = vx.StreamMatchingDecoder(short, window=6, commit=3, rounds=61, enable_correlations=correlated)
    open_ended = vx.StreamMatchingDecoder(short, window=6, commit=3, rounds=0, enable_correlations=correlated)
    bounds = round_bounds(repeated)
    assert bounds[-1] == dets.shape[1]
    for shot, expected in zip(dets, on_long_model):
        repeated.extend(shot)
        assert np.array_equal(repeated.flush(), expected)
        open_ended.extend(shot[:bounds[-2]])
        assert np.array_equal(open_ended.flush(shot[bounds[-2]:]), expected)


def test_parallel_windows_agree_with_global_matching():
    circuit = surface_circuit(5, 50, 0.004)
    dem = circuit.detector_error_model(decompose_errors=True)
    dets, obs = sample(circuit, 1000, seed=9)
    ours = vx.MatchingDecoder.from_detector_error_model(dem).predict_observables_batch(dets)
    decoder = vx.StreamMatchingDecoder(circuit, window=10, commit=5)
    parallel = np.array([decoder.decode_stream(shot) for shot in dets])
    in_order = np.array([decoder.decode_stream(shot, parallel=False) for shot in dets[:100]])
    assert np.array_equal(in_order, parallel[:100])
    assert np.mean(np.all(parallel == ours, axis=1)) >= 0.99
    assert within_sampling_error(failures(parallel, obs), failures(ours, obs))


def test_bad_input_is_refused_and_changes_nothing(tmp_path):
    circuit = surface_circuit(3, 3, 0.01)
    dets, _ = sample(circuit, 1, seed=1)
    decoder = vx.StreamMatchingDecoder(circuit)
    bounds = round_bounds(decoder)
    expected = decoder.predict_observables(dets[0])
    with pytest.raises(ValueError, match=r"^round 0 has 5 detection events, expected 4$"):
        decoder.update(np.zeros(5, dtype=np.uint8))
    with pytest.raises(TypeError, match="dtype uint8 or bool"):
        decoder.update(np.zeros(4, dtype=np.int32))
    with pytest.raises(ValueError, match="expected a 1-D array"):
        decoder.update(np.zeros((1, 4), dtype=np.uint8))
    decoder.extend(dets[0])
    with pytest.raises(ValueError, match=r"^all 4 rounds of this experiment are in; call flush\(\) to start the next$"):
        decoder.update(dets[0, :4])
    assert decoder.current_round == 4
    assert np.array_equal(decoder.flush(), expected)
    no_time = stim.DetectorErrorModel("error(0.1) D0 D1 L0\nerror(0.1) D1\nerror(0.1) D0")
    with pytest.raises(ValueError, match="detector 0 has no coordinates to take its round from; give "
                                         "detectors_per_round"):
        vx.StreamMatchingDecoder(no_time)
    assert vx.StreamMatchingDecoder(no_time, detectors_per_round=1).model_rounds == 2


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's allocator cannot run under an address-space limit")
def test_memory_stays_flat_over_a_million_rounds(tmp_path):
    # The child streams a million rounds of a distance-11 experiment under an
    # address-space cap a little above what it uses after the first 10^5.
    script = textwrap.dedent("""
        import resource, sys
        import numpy as np, stim, vornex_decoder_v3 as vx
        circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=11, rounds=6,
                                         after_clifford_depolarization=0.001, before_measure_flip_probability=0.001)
        decoder = vx.StreamMatchingDecoder(circuit, rounds=0)
        width = decoder.round_size(1)
        rng = np.random.default_rng(1)
        chunk_rounds = 10_000
        first = np.zeros(decoder.round_size(0), dtype=np.uint8)
        decoder.update(first)
        def feed(chunks):
            for _ in range(chunks):
                decoder.extend((rng.random(chunk_rounds * width) < 0.001).astype(np.uint8))
        feed(10)
        rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        with open("/proc/self/status") as f:
            vm = next(int(line.split()[1]) for line in f if line.startswith("VmSize:"))
        cap = (vm + 64 * 1024) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
        feed(90)
        decoder.flush()
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss
        print(decoder.latency_stats()["count"], grown)
    """)
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=600,
                           cwd=tmp_path)
    assert child.returncode == 0, child.stderr[-3000:]
    count, grown_kib = map(int, child.stdout.split())
    assert count == 1 + 1_000_000 + 1
    assert grown_kib < 8 * 1024
