"""Peak memory of the matching decoders on a long repetition code with many
detection events, measured in a child process under an address-space limit.

A decode may hold per-thread search workspaces of graph size and the dense
matching matrix of its defect graph (about (2D + 1)^2 * 16 bytes for D
defects), but nothing that grows as events times graph size: the growth
beyond a warmed-up decoder must stay within
    GRAPH_BYTES_PER_NODE * checks + EVENT_PAIR_BYTES * events^2 + SLACK_MB."""
import os
import subprocess
import sys
import textwrap

import pytest

N_QUBITS = 200_000
N_EVENTS = 400
GRAPH_BYTES_PER_NODE = 64
EVENT_PAIR_BYTES = 80
SLACK_MB = 16
BOUND_MB = (GRAPH_BYTES_PER_NODE * (N_QUBITS - 1) + EVENT_PAIR_BYTES * N_EVENTS**2) / 2**20 + SLACK_MB

CHILD = textwrap.dedent(
    """
    import resource, sys
    import numpy as np
    import vornex_decoder_v3 as vx

    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
    name, n_qubits, n_events = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    checks, n_qubits = vx.py_generate_repetition_code_checks(n_qubits)
    if name == "BlossomDecoder":
        decoder = vx.BlossomDecoder(checks, n_qubits, None)
    else:
        decoder = vx.SparseBlossomDecoder(checks, n_qubits)
    warm = np.zeros(len(checks), np.uint8)
    warm[[10, 20, 30, 41]] = 1
    decoder.decode(warm)  # graph, pool and first workspaces in place
    syndrome = np.zeros(len(checks), np.uint8)
    syndrome[np.random.default_rng(5).choice(len(checks), n_events, replace=False)] = 1
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    correction = decoder.decode(syndrome)
    growth_mb = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024
    # Check i joins qubits i and i + 1.
    reproduces = np.array_equal(correction[:-1] ^ correction[1:], syndrome)
    print(growth_mb, reproduces)
    """
)


# AddressSanitizer reserves terabytes of address space for its shadow memory,
# so a child under an address-space cap cannot even start with it preloaded.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="address-space caps and AddressSanitizer exclude each other")
@pytest.mark.parametrize("name", ["BlossomDecoder", "SparseBlossomDecoder"])
def test_many_events_on_a_long_code_stay_within_graph_plus_events(name):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, name, str(N_QUBITS), str(N_EVENTS)], capture_output=True, text=True,
        timeout=300,
    )
    assert child.returncode == 0, child.stderr
    growth_mb, reproduces = child.stdout.split()
    assert reproduces == "True"
    assert float(growth_mb) <= BOUND_MB, (growth_mb, BOUND_MB)
