"""Python-level Union-Find throughput in shots per second.

One sector of a rotated surface code (the Z checks of a d x d patch) under
independent bit flips, p = 0.05, fixed seed, syndromes drawn before timing.
Reports each method's rate and, for the batch methods, the ratio to
UnionFindDecoder.decode called in a loop.

    PYTHONPATH=build/<dir> python3 bench/uf_bench.py [--shots N] [--distances 5 9 13 17]
"""
import argparse
import time

import numpy as np

import vornex_decoder_v3 as vx
from bench_codes import rotated_sector_top_bottom

P = 0.05
SEED = 0x5EED


def draw(checks, n_qubits, n_shots, seed):
    errors = (np.random.default_rng(seed).random((n_shots, n_qubits)) < P).astype(np.uint8)
    out = np.zeros((n_shots, len(checks)), dtype=np.uint8)
    for c, check in enumerate(checks):
        for q in check:
            out[:, c] ^= errors[:, q]
    return out


def rate(fn, shots, min_seconds=0.5):
    fn()  # warm-up: worker pool, page faults
    runs, start = 0, time.perf_counter()
    while True:
        fn()
        runs += 1
        elapsed = time.perf_counter() - start
        if elapsed >= min_seconds:
            return runs * shots / elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", type=int, default=20000)
    parser.add_argument("--distances", type=int, nargs="+", default=[5, 9, 13, 17])
    args = parser.parse_args()
    print(f"{'benchmark':<44}{'shots/s':>14}{'vs loop':>10}")
    for d in args.distances:
        checks, n_qubits = rotated_sector_top_bottom(d)
        batch = draw(checks, n_qubits, args.shots, SEED + d)
        uf = vx.UnionFindDecoder(checks, n_qubits)
        cpu = vx.CPUBatchDecoder(checks, n_qubits)
        rows = [np.ascontiguousarray(r) for r in batch[:5000]]

        def loop():
            for r in rows:
                uf.decode(r)

        base = rate(loop, len(rows))
        print(f"{f'uf_rotated_d{d}_p0.05 decode loop':<44}{base:>14,.0f}{1.0:>10.2f}")
        methods = {
            "UnionFindDecoder.batch_decode": uf.batch_decode,
            "FastUnionFindDecoder.batch_decode": vx.FastUnionFindDecoder(checks, n_qubits).batch_decode,
            "BatchDecoder.parallel_batch_decode": vx.BatchDecoder(checks, n_qubits).parallel_batch_decode,
            "CPUBatchDecoder.batch_decode_simd": cpu.batch_decode_simd,
            "CPUBatchDecoder.batch_decode_pooled": cpu.batch_decode_pooled,
            "CPUBatchDecoder.batch_decode_par": cpu.batch_decode_par,
        }
        for name, method in methods.items():
            r = rate(lambda: method(batch), args.shots)
            print(f"{f'  d{d} {name}':<44}{r:>14,.0f}{r / base:>10.2f}")


if __name__ == "__main__":
    main()
