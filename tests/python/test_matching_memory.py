"""Peak memory of the matching decoders on a long repetition code with many
detection events, measured in a child process under an address-space limit.

A decode may hold per-thread search workspaces of graph size and the dense
matching matrix of its defect graph (about (2D + 1)^2 * 16 bytes for D
defects), but nothing that grows as events times graph size, nor as the
graph's square (the exact GF(2) fallback on a ring whose odd number of
events no correction reproduces): the growth beyond a warmed-up decoder
must stay within
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


def bound_mb(n_checks, n_events):
    return (GRAPH_BYTES_PER_NODE * n_checks + EVENT_PAIR_BYTES * n_events**2) / 2**20 + SLACK_MB


CHILD = textwrap.dedent(
    """
    import resource, sys
    import numpy as np
    import vornex_decoder_v3 as vx

    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
    name, layout, n_qubits, n_events = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    if layout == "line":
        checks, n_qubits = vx.py_generate_repetition_code_checks(n_qubits)
    else:
        checks = [[q, (q + 1) % n_qubits] for q in range(n_qubits)]
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
    # Check i joins qubits i and i + 1; on the ring nothing reproduces an odd count.
    reproduces = np.array_equal(correction[:len(checks)] ^ np.roll(correction, -1)[:len(checks)], syndrome)
    print(growth_mb, reproduces == (layout == "line" or n_events % 2 == 0))
    """
)


# AddressSanitizer reserves terabytes of address space for its shadow memory,
# so a child under an address-space cap cannot even start with it preloaded.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="address-space caps and AddressSanitizer exclude each other")
@pytest.mark.parametrize("name", ["BlossomDecoder", "SparseBlossomDecoder"])
@pytest.mark.parametrize("layout, n_events", [("line", N_EVENTS), ("ring", 3)])
def test_long_codes_stay_within_graph_plus_events(name, layout, n_events):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, name, layout, str(N_QUBITS), str(n_events)], capture_output=True, text=True,
        timeout=300,
    )
    assert child.returncode == 0, child.stderr
    growth_mb, as_expected = child.stdout.split()
    assert as_expected == "True"
    assert float(growth_mb) <= bound_mb(N_QUBITS, n_events), growth_mb
