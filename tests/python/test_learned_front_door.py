"""The learned family through the front door: a spec with a training budget trains once per model and the
next compile (another sinter worker) loads the cached network."""
import time

import numpy as np
import pytest

from vornex_tools.families import build_decoder

stim = pytest.importorskip("stim")


def test_second_compile_loads_the_first_ones_network(tmp_path):
    c = stim.Circuit.generated("surface_code:rotated_memory_x", distance=3, rounds=3,
                               after_clifford_depolarization=0.01, before_measure_flip_probability=0.01)
    dem = c.detector_error_model(decompose_errors=True)
    dets = c.compile_detector_sampler(seed=2).sample(2000, bit_packed=True)
    spec = f"learned_matching:train_samples=20000,train_seed=4,cache_dir={tmp_path}"
    t0 = time.perf_counter()
    first = build_decoder(spec, dem)
    t1 = time.perf_counter()
    second = build_decoder(spec, dem)
    t2 = time.perf_counter()
    assert len(list(tmp_path.iterdir())) == 1
    assert np.array_equal(first.predict_observables_batch(dets, bit_packed=True),
                          second.predict_observables_batch(dets, bit_packed=True))
    assert t2 - t1 < (t1 - t0) / 3  # loaded, not trained again
    untrained = build_decoder("learned_matching", dem)
    plain = build_decoder("matching", dem)
    assert np.array_equal(untrained.predict_observables_batch(dets, bit_packed=True),
                          plain.predict_observables_batch(dets, bit_packed=True))
