"""Logical error rates of plain exact matching, the hybrid decoder, the learned
path (network estimates as matching weights) and belief-matching on the same
fresh shots; training time and inference microseconds per shot.

Rows: the rotated sector at code capacity (one check type, errors on qubits
only) and Stim's rotated memory circuits at distance 3 and 5.

    PYTHONPATH=build/dev python3 bench/learned_matching_bench.py [--shots N] [--train N] [--validation N]

Besides the rates, each row gives learned/matching ratios of error rate and
time, and the paired sampling error of the difference on the same shots:
z = (learned-only failures - matching-only failures) / sqrt(their sum)
(McNemar), so |z| < 2 is within sampling error.
"""
import argparse
import time

import numpy as np
import stim

import vornex_decoder_v3 as vx
from bench_codes import parity_matrix, rotated_sector_top_bottom


def code_capacity(d, p, shots, rng):
    checks, n = rotated_sector_top_bottom(d)
    checks = [list(c) for c in checks]
    logical = {row * d for row in range(d)}  # column 0: commutes with every check of the other type
    qubit_checks = [[c for c, check in enumerate(checks) if q in check] for q in range(n)]
    lines = []
    for q in range(n):
        targets = " ".join(f"D{c}" for c in qubit_checks[q]) + (" L0" if q in logical else "")
        lines.append(f"error({p}) {targets}")
    model = "\n".join(lines)
    errors = (rng.random((shots, n)) < p).astype(np.uint8)
    H = parity_matrix(checks, n)
    events = (errors @ H.T % 2).astype(np.uint8)
    flips = (errors[:, sorted(logical)].sum(axis=1) % 2).astype(np.uint8)[:, None]
    return model, events, flips, (checks, n, errors)


def circuit_level(d, p, shots, seed):
    circuit = stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                     after_clifford_depolarization=p, before_measure_flip_probability=p,
                                     after_reset_flip_probability=p)
    model = circuit.detector_error_model(decompose_errors=True)
    events, flips = circuit.compile_detector_sampler(seed=seed).sample(shots, separate_observables=True)
    return str(model), events.astype(np.uint8), flips.astype(np.uint8), None


def timed(fn):
    t0 = time.perf_counter()
    out = fn()
    return out, time.perf_counter() - t0


def ler(pred, flips):
    return float((pred != flips).any(axis=1).mean())


def paired_z(learned, plain, flips):
    learned_wrong = (learned != flips).any(axis=1)
    plain_wrong = (plain != flips).any(axis=1)
    only_learned = int((learned_wrong & ~plain_wrong).sum())
    only_plain = int((plain_wrong & ~learned_wrong).sum())
    total = only_learned + only_plain
    return (only_learned - only_plain) / np.sqrt(total) if total else 0.0


def row(name, model, events, flips, qubit_code, train_samples, validation_shots):
    shots = len(events)
    out = {"row": name, "shots": shots}
    plain = vx.MatchingDecoder.from_detector_error_model(model)
    plain_pred, t = timed(lambda: plain.predict_observables_batch(events))
    out["matching"], out["matching_us"] = ler(plain_pred, flips), 1e6 * t / shots
    learned = vx.LearnedMatchingDecoder(model, hidden_size=16, n_layers=2, seed=1)
    (best, prior, n), t_train = timed(
        lambda: learned.train(train_samples, seed=7, validation_shots=validation_shots))
    out["train_s"], out["held_out_learned"], out["held_out_prior"] = t_train, best, prior
    pred, t = timed(lambda: learned.predict_observables_batch(events))
    out["learned"], out["learned_us"] = ler(pred, flips), 1e6 * t / shots
    out["z"] = float(paired_z(pred, plain_pred, flips))
    out["ler_ratio"] = out["learned"] / out["matching"] if out["matching"] else float("nan")
    out["us_ratio"] = out["learned_us"] / out["matching_us"]
    belief = vx.BeliefMatchingDecoder.from_detector_error_model(model)
    pred, t = timed(lambda: belief.predict_observables_batch(events))
    out["belief"], out["belief_us"] = ler(pred, flips), 1e6 * t / shots
    if qubit_code is not None:
        checks, n, errors = qubit_code
        hybrid = vx.HybridDecoder(checks, n, gnn_hidden_size=16, gnn_n_layers=2, seed=1)
        hybrid.train_bp(30, 2, 0.05, 10)
        corr, t = timed(lambda: hybrid.batch_decode_hybrid(events))
        logical = [q * int(np.sqrt(n)) for q in range(int(np.sqrt(n)))]
        out["hybrid"] = float(((corr ^ errors)[:, logical].sum(axis=1) % 2).mean())
        out["hybrid_us"] = 1e6 * t / shots
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", type=int, default=20000)
    parser.add_argument("--train", type=int, default=500_000)
    parser.add_argument("--validation", type=int, default=20_000)
    args = parser.parse_args()
    rng = np.random.default_rng(2026)
    rows = []
    for p in (0.02, 0.06, 0.12):
        rows.append(row(f"capacity_d5_p{p}", *code_capacity(5, p, args.shots, rng), args.train, args.validation))
        print(rows[-1], flush=True)
    for d in (3, 5):
        rows.append(row(f"circuit_d{d}_p0.005", *circuit_level(d, 0.005, args.shots, 11 + d), args.train, args.validation))
        print(rows[-1], flush=True)
    print()
    keys = ["row", "matching", "learned", "ler_ratio", "z", "belief", "hybrid", "train_s", "matching_us",
            "learned_us", "us_ratio", "belief_us"]
    print(" | ".join(keys))
    for r in rows:
        print(" | ".join(f"{r[k]:.4g}" if isinstance(r.get(k), float) else str(r.get(k, "-")) for k in keys))


if __name__ == "__main__":
    main()
