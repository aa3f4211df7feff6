"""Ctrl-C during observable predictions: every family's batch prediction, packed or not, ends with
KeyboardInterrupt within 2 s of SIGINT, and the decoder then predicts as if it had never been
interrupted. Each case runs in a child process sized so that the uninterrupted call would take
about eight seconds."""
import sys

import pytest

import vornex_decoder_v3 as vx
from signalled_child import interrupted_when_ready

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
stim = pytest.importorskip("stim")

FAMILIES = sorted(name for name in dir(vx)
                  if isinstance(getattr(vx, name), type) and hasattr(getattr(vx, name), "predict_observables_batch"))

CHILD = """
import sys, time
import numpy as np
import stim
import vornex_decoder_v3 as vx

family, packed = sys.argv[1], sys.argv[2] == "packed"
circuit = stim.Circuit.generated("surface_code:rotated_memory_x", distance=9, rounds=9,
                                 after_clifford_depolarization=0.004, before_measure_flip_probability=0.004)
decoder = getattr(vx, family).from_detector_error_model(circuit.detector_error_model(decompose_errors=True))
sample = circuit.compile_detector_sampler(seed=1).sample(256, bit_packed=packed)
n = 4  # the calibration grows until it takes a fifth of a second: some families take 0.1 s a shot
while True:
    started = time.monotonic()
    before = decoder.predict_observables_batch(sample[:n], bit_packed=packed)
    per_shot = max((time.monotonic() - started) / n, 1e-7)
    if n == len(sample) or per_shot * n > 0.2:
        break
    n = min(4 * n, len(sample))
sample = sample[:n]
shots = int(min(8.0 * 2 / per_shot, 1.5e8 / sample.shape[1]))
events = np.tile(sample, (shots // len(sample) + 1, 1))
print("ready", flush=True)
try:
    decoder.predict_observables_batch(events, bit_packed=packed)
    print("finished", time.monotonic() - started, flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), flush=True)
after = decoder.predict_observables_batch(sample, bit_packed=packed)
print("same" if np.array_equal(before, after) else "different", flush=True)
"""


@pytest.mark.parametrize("packing", ["unpacked", "packed"])
@pytest.mark.parametrize("family", FAMILIES)
def test_ctrl_c_stops_a_batch_prediction_and_the_decoder_predicts_as_before(family, packing):
    out, err, code, sent = interrupted_when_ready(["-c", CHILD, family, packing], timeout=120)
    assert code == 0, err
    stopped, check = out.split("\n")[:2]
    assert stopped.startswith("interrupted"), out
    assert float(stopped.split()[1]) - sent < 2.0
    assert check == "same"
