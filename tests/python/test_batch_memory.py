"""Peak memory of the CPU batch drivers on long batches of a small code,
measured in child processes under an address-space limit: the drivers'
scratch follows the worker pool, not the batch, so the peak stays within
the output array plus a small constant, and the rows are those of
UnionFindDecoder.batch_decode."""
import os
import subprocess
import sys
import textwrap

import pytest

N_SHOTS = 10**7
# 4 checks and 5 qubits per shot: 40 MB in, 50 MB out.
OUTPUT_MB = N_SHOTS * 5 / 2**20
# Allowed growth of the peak resident size beyond the output array.
SCRATCH_BOUND_MB = 64

CHILD = textwrap.dedent(
    """
    import resource, sys
    import numpy as np
    import vornex_decoder_v3 as vx

    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
    method, n_shots = sys.argv[1], int(sys.argv[2])
    checks, n_qubits = vx.py_generate_repetition_code_checks(5)
    decoder = vx.CPUBatchDecoder(checks, n_qubits)
    syndromes = np.random.default_rng(7).integers(0, 2, (n_shots, len(checks)), dtype=np.uint8)
    getattr(decoder, method)(syndromes[:1000])  # worker pool and first workspaces in place
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    out = getattr(decoder, method)(syndromes)
    growth_mb = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024
    same = np.array_equal(out, vx.UnionFindDecoder(checks, n_qubits).batch_decode(syndromes))
    print(growth_mb, same)
    """
)


# AddressSanitizer reserves terabytes of address space for its shadow memory,
# so a child under an address-space cap cannot even start with it preloaded.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="address-space caps and AddressSanitizer exclude each other")
@pytest.mark.parametrize("method", ["batch_decode_par", "batch_decode_pooled", "batch_decode_simd"])
def test_peak_memory_follows_the_output(method):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, method, str(N_SHOTS)], capture_output=True, text=True, timeout=600
    )
    assert child.returncode == 0, child.stderr
    growth_mb, same = child.stdout.split()
    assert same == "True"
    assert float(growth_mb) <= OUTPUT_MB + SCRATCH_BOUND_MB, growth_mb
