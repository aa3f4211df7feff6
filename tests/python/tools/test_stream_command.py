"""`vornex stream` end to end: a Stim detection-event file decoded round by round, its latency printed."""
import json
import subprocess
import sys

import numpy as np
import pytest

import vornex_decoder_v3 as vx

stim = pytest.importorskip("stim")


def test_stream_decodes_a_file_round_by_round_and_reports_latency(tmp_path):
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=3, rounds=9,
                                     after_clifford_depolarization=0.01, before_measure_flip_probability=0.01)
    dem = circuit.detector_error_model(decompose_errors=True)
    dem.to_file(tmp_path / "model.dem")
    dets, obs = circuit.compile_detector_sampler(seed=4).sample(300, separate_observables=True)
    stim.write_shot_data_file(data=np.hstack([dets, obs]), path=str(tmp_path / "shots.b8"), format="b8",
                              num_detectors=dem.num_detectors, num_observables=dem.num_observables)
    result = subprocess.run(
        [sys.executable, "-m", "vornex_tools", "stream", "--dem", tmp_path / "model.dem", "--in",
         tmp_path / "shots.b8", "--in-format", "b8", "--in-includes-appended-observables", "--window", "4",
         "--commit", "2", "--json", "--out", tmp_path / "pred.01"], capture_output=True, timeout=300)
    assert result.returncode == 0, result.stderr
    stats = json.loads(result.stdout)
    assert (stats["shots"], stats["rounds_per_shot"], stats["window"], stats["commit"]) == (300, 10, 4, 2)
    assert 0 < stats["decode_us"]["p50"] <= stats["decode_us"]["p99"] <= stats["decode_us"]["max"]
    expected = vx.StreamMatchingDecoder(dem, window=4, commit=2).predict_observables_batch(dets)
    written = stim.read_shot_data_file(path=str(tmp_path / "pred.01"), format="01", num_observables=1)
    assert np.array_equal(written, expected.astype(bool))
    assert stats["mistakes"] == int(np.count_nonzero(np.any(expected != obs, axis=1)))
    correlated = subprocess.run(
        [sys.executable, "-m", "vornex_tools", "stream", "--dem", tmp_path / "model.dem", "--in",
         tmp_path / "shots.b8", "--in-format", "b8", "--in-includes-appended-observables", "--window", "4",
         "--commit", "2", "--correlated", "--json", "--out", tmp_path / "corr.01"], capture_output=True, timeout=300)
    assert correlated.returncode == 0, correlated.stderr
    expected = vx.StreamMatchingDecoder(dem, window=4, commit=2, enable_correlations=True).predict_observables_batch(dets)
    written = stim.read_shot_data_file(path=str(tmp_path / "corr.01"), format="01", num_observables=1)
    assert np.array_equal(written, expected.astype(bool))
    bad = subprocess.run([sys.executable, "-m", "vornex_tools", "stream", "--dem", tmp_path / "model.dem", "--in",
                          tmp_path / "shots.b8", "--in-format", "b8", "--window", "2", "--commit", "2"],
                         capture_output=True, timeout=300)
    assert bad.returncode == 1
    assert b"window must be larger than commit" in bad.stderr
