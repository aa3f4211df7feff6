"""Circuit-level rotated surface-code memory experiments decoded by this library through sinter.

Stim generates the circuits (distance d, d rounds, uniform depolarizing noise
p after gates, on resets, before measurements and on data qubits each
round), sinter samples them and decodes with one of this library's matching
decoders (or, with --save, a sweep on an embedded Dask cluster that keeps its
results in a file and resumes from it), and the script prints the logical
error rate per round and writes a threshold plot.
"""
import argparse
import math
import os
import sys
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import sinter  # noqa: E402
import stim  # noqa: E402

import vornex_tools  # noqa: E402

DISTANCES = (3, 5, 7)
NOISE = (0.003, 0.005, 0.007, 0.009, 0.011, 0.013)
# Preferred decoder first: the sparse matching engine where this build has it.
DECODER_PREFERENCE = ("vornex_matching", "vornex_blossom")


def tasks(distances, noise):
    for d in distances:
        for p in noise:
            circuit = stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                             after_clifford_depolarization=p, after_reset_flip_probability=p,
                                             before_measure_flip_probability=p, before_round_data_depolarization=p)
            yield sinter.Task(circuit=circuit, json_metadata={"d": d, "p": p, "rounds": d})


def per_round(stat):
    """Logical error rate per round, from the rate per shot of a d-round experiment."""
    shot_rate = stat.errors / stat.shots if stat.shots else math.nan
    return sinter.shot_error_rate_to_piece_error_rate(shot_rate, pieces=stat.json_metadata["rounds"])


def print_table(stats, distances, noise):
    cell = {(s.json_metadata["d"], s.json_metadata["p"]): s for s in stats}
    print("logical error rate per round (errors/shots)")
    print("    p   " + "".join(f"{'d=' + str(d):>24}" for d in distances))
    for p in noise:
        row = "".join(f"{per_round(cell[d, p]):>11.2e} ({cell[d, p].errors:>4}/{cell[d, p].shots:>6})"
                      for d in distances)
        print(f"  {p:.3f}  {row}")


def plot(stats, decoder, path):
    fig, ax = plt.subplots(figsize=(7, 5))
    sinter.plot_error_rate(ax=ax, stats=stats, x_func=lambda s: s.json_metadata["p"],
                           group_func=lambda s: f"d={s.json_metadata['d']}",
                           failure_units_per_shot_func=lambda s: s.json_metadata["rounds"])
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("physical error rate p (circuit-level depolarizing)")
    ax.set_ylabel("logical error rate per round")
    ax.set_title(f"Rotated surface-code memory, d rounds, decoder {decoder}")
    ax.grid(which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", default="threshold.png", help="where to write the plot (PNG)")
    parser.add_argument("--max-shots", type=int, default=100_000)
    parser.add_argument("--max-errors", type=int, default=1000)
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--save", metavar="FILE",
                        help="sweep on an embedded Dask cluster, results in FILE (sinter CSV; a rerun resumes)")
    args = parser.parse_args()

    custom = vornex_tools.sinter_decoders()
    decoder = next((name for name in DECODER_PREFERENCE if name in custom), None)
    if decoder is None:
        sys.exit(f"no matching decoder in this build; available: {', '.join(custom)}")
    start = time.monotonic()
    if args.save:
        stats = vornex_tools.sweep(tasks(DISTANCES, NOISE), decoders=[decoder], max_shots=args.max_shots,
                                   max_errors=args.max_errors, save=args.save, workers=args.workers)
    else:
        stats = sinter.collect(num_workers=args.workers, tasks=list(tasks(DISTANCES, NOISE)), decoders=[decoder],
                               custom_decoders=custom, max_shots=args.max_shots, max_errors=args.max_errors)
    elapsed = time.monotonic() - start
    print(f"decoder {decoder}: {sum(s.shots for s in stats):,} shots in {elapsed:.1f} s "
          f"on {args.workers} worker(s)")
    print_table(stats, DISTANCES, NOISE)
    plot(stats, decoder, args.plot)
    print(f"threshold plot written to {os.path.abspath(args.plot)}")


if __name__ == "__main__":
    main()
