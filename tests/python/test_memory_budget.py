"""Sizes a caller declares are checked against the memory budget before memory is taken: a two-check list that
declares 2**31 qubits is refused at once by every family whose memory follows the qubit count."""
import time

import pytest

import vornex_decoder_v3 as vx

CHECKS = [[0, 1], [1, 2]]
N = 1 << 31


@pytest.mark.parametrize("build, decoder", [
    (lambda: vx.MatchingDecoder(CHECKS, N), "a matching decoder"),
    (lambda: vx.SparseBlossomDecoder(CHECKS, N), "a sparse blossom decoder"),
    (lambda: vx.LookupTableDecoder(CHECKS, N), "a lookup table"),
    (lambda: vx.HybridDecoder(CHECKS, N), "a hybrid decoder"),
    (lambda: vx.BenchmarkSuite(CHECKS, N, 10, 1), "a benchmark suite"),
])
def test_declared_qubit_counts_of_graph_families_are_checked_against_the_budget(build, decoder):
    started = time.monotonic()
    with pytest.raises(MemoryError, match=f"^the check list declares 2147483648 qubits; {decoder} for it needs about "
                                          r".* above the memory budget of 2\.0 GiB \(set VORNEX_MEMORY_BUDGET"):
        build()
    assert time.monotonic() - started < 1.0
