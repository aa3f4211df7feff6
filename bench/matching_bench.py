"""Matching decoders against a peer minimum-weight matching decoder from PyPI
(pymatching), on the same syndromes.

Code: one sector of the rotated surface code (the checks of one type of a
d x d patch: weight 4 inside, weight 2 on two opposite edges), d = 5..17,
independent bit flips at p = 0.01, 0.05 and 0.10, unit weights, fixed seed,
errors drawn before timing.

Columns per row (code, distance, noise, e.g. blossom_rotated_d9_p0.05):
- decode: microseconds per shot of a Python loop of single decode calls,
  for BlossomDecoder, SparseBlossomDecoder and the peer's decode;
- batch: shots per second of one batch call (ours spreads rows over the
  worker pool, the peer decodes its batch on one thread);
- ratio: peer time / our time (above 1 means we are faster);
- LER: logical error rate of each decoder on the same shots (a residual error
  that flips the parity of row 0, or a correction that misses its syndrome),
  with the binomial standard error. Both decoders are exact while every
  defect sees all others (at most 13 defects), so the rates must agree
  within sampling error there.

    pip install pymatching
    PYTHONPATH=build/<dir> python3 bench/matching_bench.py [--shots N] [--distances 5 7 9]

Goal: per-shot decode time at or below the peer's at d = 5 to 9.
"""
import argparse
import os
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
import pymatching  # noqa: E402
import scipy.sparse  # noqa: E402

import vornex_decoder_v3 as vx  # noqa: E402
from bench_codes import parity_matrix, rotated_sector_left_right  # noqa: E402

SEED = 0x3A7C4


def per_shot_us(decode, syndromes, min_seconds=0.3):
    """Best of a few passes over the syndromes, in microseconds per shot."""
    best = float("inf")
    spent = 0.0
    while spent < min_seconds or best == float("inf"):
        t0 = time.perf_counter()
        for s in syndromes:
            decode(s)
        dt = time.perf_counter() - t0
        spent += dt
        best = min(best, dt / len(syndromes) * 1e6)
    return best


def shots_per_second(decode_batch, syndromes, min_seconds=0.3):
    best = 0.0
    spent = 0.0
    while spent < min_seconds or best == 0.0:
        t0 = time.perf_counter()
        decode_batch(syndromes)
        dt = time.perf_counter() - t0
        spent += dt
        best = max(best, len(syndromes) / dt)
    return best


def failures(h, d, errors, syndromes, corrections):
    residual = errors ^ corrections
    missed = np.any((corrections.astype(np.int64) @ h.T.astype(np.int64)) % 2 != syndromes, axis=1)
    flipped = residual[:, :d].sum(axis=1) % 2 == 1
    return int(np.count_nonzero(missed | flipped))


def rate(k, n):
    p = k / n
    return p, (p * (1 - p) / n) ** 0.5


def run(distances, probabilities, shots):
    rng = np.random.default_rng(SEED)
    print(f"workers: {os.cpu_count()} hardware threads; shots per row: {shots}")
    header = (f"{'case':<28}{'defects':>8}{'ours us':>9}{'sparse us':>10}{'peer us':>9}{'ratio':>7}"
              f"{'ours/s':>10}{'peer/s':>10}{'ratio':>7}{'LER ours':>17}{'LER peer':>17}")
    print(header)
    for d in distances:
        checks, nq = rotated_sector_left_right(d)
        h = parity_matrix(checks, nq)
        ours = vx.BlossomDecoder(checks, nq, None)
        sparse = vx.SparseBlossomDecoder(checks, nq)
        peer = pymatching.Matching(scipy.sparse.csc_matrix(h))
        for p in probabilities:
            errors = (rng.random((shots, nq)) < p).astype(np.uint8)
            syndromes = ((errors.astype(np.int64) @ h.T.astype(np.int64)) % 2).astype(np.uint8)
            timed = syndromes[: min(shots, 4000)]
            ours_us = per_shot_us(ours.decode, timed)
            sparse_us = per_shot_us(sparse.decode, timed[: min(len(timed), 1000)])
            peer_us = per_shot_us(peer.decode, timed)
            ours_rate = shots_per_second(ours.batch_decode, syndromes)
            peer_rate = shots_per_second(peer.decode_batch, syndromes)
            ours_fail = failures(h, d, errors, syndromes, ours.batch_decode(syndromes))
            peer_fail = failures(h, d, errors, syndromes, peer.decode_batch(syndromes).astype(np.uint8))
            lo, lo_err = rate(ours_fail, shots)
            lp, lp_err = rate(peer_fail, shots)
            print(f"{f'blossom_rotated_d{d}_p{p:.2f}':<28}{syndromes.sum(axis=1).mean():>8.1f}"
                  f"{ours_us:>9.2f}{sparse_us:>10.2f}{peer_us:>9.2f}{peer_us / ours_us:>7.2f}"
                  f"{ours_rate:>10.0f}{peer_rate:>10.0f}{ours_rate / peer_rate:>7.2f}"
                  f"{f'{lo:.4f}+-{lo_err:.4f}':>17}{f'{lp:.4f}+-{lp_err:.4f}':>17}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--shots", type=int, default=20000)
    parser.add_argument("--distances", type=int, nargs="+", default=[5, 7, 9, 11, 13, 15, 17])
    parser.add_argument("--probabilities", type=float, nargs="+", default=[0.01, 0.05, 0.10])
    args = parser.parse_args()
    run(args.distances, args.probabilities, args.shots)


if __name__ == "__main__":
    main()
