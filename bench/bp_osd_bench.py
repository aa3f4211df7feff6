"""BP-OSD latency and accuracy against a peer BP-OSD from PyPI (ldpc), same syndromes.

Codes: the periodic surface layout of py_generate_surface_code_checks (2*d*d
weight-4 checks, every qubit in eight checks) and one sector of a rotated
surface code (the Z checks of a d x d patch), d = 5..11, independent bit flips
at p = 0.01 and 0.05, fixed seed, errors drawn before timing.

Both decoders run min-sum without scaling, at most 50 iterations, OSD order 0,
with columns taken likeliest flip first. The difference that shows in the
figures: the peer stops BP as soon as its hard decision explains the
syndrome and then skips OSD, while ours (the defined behaviour) stops BP only
when no posterior moves by 1e-6 (on loopy codes that means all 50
iterations) and always finishes with OSD. Timing is a Python loop of single
decode calls for both.

Failure counts:
- rotated sector: the correction misses the syndrome, or the residual error
  flips the logical operator (a full column of the patch);
- periodic layout (a classical code without logical operators): the
  correction differs from the drawn error (block error rate).

    pip install ldpc
    PYTHONPATH=build/<dir> python3 bench/bp_osd_bench.py [--shots N] [--distances 5 7 9 11]

Goal: per-shot time at or below the peer's on every row.
"""
import argparse
import os
import time

# Idle BLAS worker threads spin after each matrix product and would steal a
# core from whichever decoder is timed next.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import vornex_decoder_v3 as vx  # noqa: E402
from bench_codes import parity_matrix  # noqa: E402

SEED = 0xB905D
MAX_ITER = 50


def rotated_sector(d):
    """Z checks of the rotated surface code and its Z logical (column 0)."""
    code = vx.RotatedSurfaceCode(d)
    logical = np.zeros(code.n_qubits, dtype=np.uint8)
    logical[code.z_logical] = 1
    return code.z_checks, code.n_qubits, logical


def make_cases(distances):
    for d in distances:
        checks, n_qubits = vx.py_generate_surface_code_checks(d)
        yield f"surface_periodic_d{d}", checks, n_qubits, None
        checks, n_qubits, logical = rotated_sector(d)
        yield f"rotated_sector_d{d}", checks, n_qubits, logical


def failures(h, errors, syndromes, corrections, logical):
    explained = ((corrections.astype(int) @ h.T) % 2 == syndromes).all(axis=1)
    residual = errors ^ corrections
    if logical is None:
        wrong = residual.any(axis=1)
    else:
        wrong = (residual.astype(int) @ logical) % 2 == 1
    return int((~explained | wrong).sum())


def timed(decode, syndromes):
    rows = []
    decode(syndromes[0])  # warm-up
    start = time.perf_counter()
    for s in syndromes:
        rows.append(decode(s))
    elapsed = time.perf_counter() - start
    return np.array(rows, dtype=np.uint8), elapsed / len(syndromes) * 1e6


def main():
    from ldpc import BpOsdDecoder as PeerBpOsd

    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", type=int, default=2000)
    parser.add_argument("--distances", type=int, nargs="+", default=[5, 7, 9, 11])
    args = parser.parse_args()

    print(f"{'benchmark':<30}{'ours us/shot':>14}{'peer us/shot':>14}{'peer/ours':>11}"
          f"{'ours fail':>11}{'peer fail':>11}")
    for name, checks, n_qubits, logical in make_cases(args.distances):
        h = parity_matrix(checks, n_qubits)
        for p in (0.01, 0.05):
            rng = np.random.default_rng(SEED + n_qubits * 100 + int(p * 100))
            errors = (rng.random((args.shots, n_qubits)) < p).astype(np.uint8)
            syndromes = np.ascontiguousarray((errors.astype(int) @ h.T % 2).astype(np.uint8))

            ours = vx.BPOSDDecoder(checks, n_qubits, p)
            peer = PeerBpOsd(h, error_rate=p, max_iter=MAX_ITER, bp_method="minimum_sum",
                             ms_scaling_factor=1.0, schedule="parallel", osd_method="OSD_0", osd_order=0)
            ours_out, ours_us = timed(ours.decode, syndromes)
            peer_out, peer_us = timed(peer.decode, syndromes)
            ours_fail = failures(h, errors, syndromes, ours_out, logical)
            peer_fail = failures(h, errors, syndromes, peer_out, logical)
            label = f"{name}_p{p}"
            print(f"{label:<30}{ours_us:>14.2f}{peer_us:>14.2f}{peer_us / ours_us:>11.2f}"
                  f"{ours_fail / args.shots:>11.4f}{peer_fail / args.shots:>11.4f}", flush=True)


if __name__ == "__main__":
    main()
