"""Writes the circuit-level detector error models the native sparse matching
benchmark (bench/sparse_engine_bench.cpp) decodes.

Rotated surface-code memory from stim, rounds = distance, the same noise p
after every Clifford, reset and measurement and on data qubits each round,
errors decomposed into graph edges: the workload of
bench/sparse_matching_bench.py, so native and Python figures describe the
same shots' kind. Files are named rotated_d{d}_p{p}.dem.

    python3 bench/write_matching_dems.py [DIR] [--distances 3 5 ...] [--ps 0.001 ...]

DIR defaults to $VORNEX_MATCHING_DEMS or /tmp/vornex_matching_dems.
"""
import argparse
import os
import pathlib

import stim


def circuit(distance, rounds, p):
    return stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=rounds,
        after_clifford_depolarization=p, before_measure_flip_probability=p,
        after_reset_flip_probability=p, before_round_data_depolarization=p)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir", nargs="?", default=os.environ.get("VORNEX_MATCHING_DEMS", "/tmp/vornex_matching_dems"))
    ap.add_argument("--distances", type=int, nargs="+", default=[3, 5, 7, 9, 11, 13, 15, 17])
    ap.add_argument("--ps", type=float, nargs="+", default=[0.001, 0.003, 0.005, 0.01])
    args = ap.parse_args()
    out = pathlib.Path(args.dir)
    out.mkdir(parents=True, exist_ok=True)
    for d in args.distances:
        for p in args.ps:
            dem = circuit(d, d, p).detector_error_model(decompose_errors=True)
            (out / f"rotated_d{d}_p{p}.dem").write_text(str(dem))
    print(f"wrote {len(args.distances) * len(args.ps)} models to {out}")


if __name__ == "__main__":
    main()
