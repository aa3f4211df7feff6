"""The worker pool sizes itself from the CPUs the process may run on."""
import os
import subprocess
import sys

import pytest

CHILD = """
import os
import numpy as np
import vornex_decoder_v3 as vx
checks, n = vx.py_generate_repetition_code_checks(25)
syndromes = np.random.default_rng(3).integers(0, 2, (200_000, len(checks)), dtype=np.uint8)
vx.UnionFindDecoder(checks, n).batch_decode(syndromes)
print(len(os.listdir("/proc/self/task")))
"""


def run_pinned(threads_requested):
    env = {k: v for k, v in os.environ.items() if k != "VORNEX_NUM_THREADS"}
    if threads_requested is not None:
        env["VORNEX_NUM_THREADS"] = threads_requested
    cpu = min(os.sched_getaffinity(0))
    return subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True, text=True, timeout=120,
                          preexec_fn=lambda: os.sched_setaffinity(0, {cpu}))


@pytest.mark.skipif(not hasattr(os, "sched_setaffinity") or not os.path.isdir("/proc/self/task"),
                    reason="needs Linux CPU affinity")
@pytest.mark.parametrize("requested, threads", [(None, 1), ("2", 2)])
def test_pinned_process_runs_quietly_on_its_cpus(requested, threads):
    done = run_pinned(requested)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    assert int(done.stdout) == threads
