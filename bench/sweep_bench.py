"""Sweep throughput on the embedded Dask cluster against sinter's collector, and scheduling cost per batch.

One task (`rotated_x_d7_r7_p0.005`, decoder vornex_matching), the same number
of shots through `sinter.collect` and through `vornex_tools.sweep` with 1 and 2
workers, in one run. Shots/s are wall-clock, start-up of the workers included
(both start fresh processes); ratio = sweep shots/s over sinter shots/s at the
same worker count (above 1 means the sweep is faster). The last columns run
the sweep on a cluster already up (as with --scheduler), without start-up. Scheduling cost per
batch comes from two sweeps of tiny fixed batches, (T2 - T1) / (B2 - B1), so
that start-up cancels out.

    PYTHONPATH=build/dev:python python3 bench/sweep_bench.py [--shots N] [--distance D]
"""
import argparse
import contextlib
import logging
import os
import time

# One thread of the library's pool per process, for sinter's workers and the cluster's alike.
os.environ["VORNEX_NUM_THREADS"] = "1"

import sinter  # noqa: E402
import stim  # noqa: E402

import vornex_tools  # noqa: E402

DECODER = "vornex_matching"
TARGET_BATCH_SECONDS = 2.0


def task(distance, p):
    circuit = stim.Circuit.generated("surface_code:rotated_memory_x", distance=distance, rounds=distance,
                                     after_clifford_depolarization=p, after_reset_flip_probability=p,
                                     before_measure_flip_probability=p, before_round_data_depolarization=p)
    return sinter.Task(circuit=circuit, json_metadata={"d": distance, "p": p})


def timed(run):
    start = time.perf_counter()
    stats = run()
    return stats, time.perf_counter() - start


def sinter_run(tasks, shots, workers):
    return sinter.collect(num_workers=workers, tasks=tasks, decoders=[DECODER], max_shots=shots,
                          custom_decoders=vornex_tools.sinter_decoders())


def sweep_run(tasks, shots, workers, **options):
    return vornex_tools.sweep(tasks, decoders=[DECODER], max_shots=shots, workers=workers, progress=False,
                              **options)


@contextlib.contextmanager
def running_cluster(workers):
    from distributed import LocalCluster
    with LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address="127.0.0.1:0",
                      silence_logs=logging.CRITICAL, env={"VORNEX_NUM_THREADS": "1"}) as cluster:
        yield cluster.scheduler_address


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", type=int, default=400_000)
    parser.add_argument("--distance", type=int, default=7)
    parser.add_argument("--noise", type=float, default=0.005)
    args = parser.parse_args()
    tasks = [task(args.distance, args.noise)]
    name = f"rotated_x_d{args.distance}_r{args.distance}_p{args.noise}"
    print(f"{name}, {DECODER}, {args.shots:,} shots per run, wall clock with worker start-up")
    print(f"{'workers':>7} {'sinter shots/s':>15} {'sweep shots/s':>14} {'ratio':>6} {'sinter LER':>11} "
          f"{'sweep LER':>10} {'running cluster':>16} {'ratio':>6}")
    for workers in (1, 2):
        (theirs,), their_seconds = timed(lambda: sinter_run(tasks, args.shots, workers))
        (ours,), our_seconds = timed(lambda: sweep_run(tasks, args.shots, workers))
        with running_cluster(workers) as address:
            _, warm_seconds = timed(lambda: sweep_run(tasks, args.shots, None, scheduler=address))
        print(f"{workers:>7} {theirs.shots / their_seconds:>15,.0f} {ours.shots / our_seconds:>14,.0f} "
              f"{their_seconds / our_seconds:>6.2f} {theirs.errors / theirs.shots:>11.5f} "
              f"{ours.errors / ours.shots:>10.5f} {args.shots / warm_seconds:>16,.0f} "
              f"{their_seconds / warm_seconds:>6.2f}")

    small = [task(3, 0.001)]
    few, many = 200, 1200
    _, few_seconds = timed(lambda: sweep_run(small, few, 2, batch_shots=1))
    _, many_seconds = timed(lambda: sweep_run(small, many, 2, batch_shots=1))
    per_batch = (many_seconds - few_seconds) / (many - few)
    print(f"scheduling cost per batch (2 workers, 1-shot batches): {per_batch * 1e3:.2f} ms "
          f"= {per_batch / TARGET_BATCH_SECONDS:.2%} of a {TARGET_BATCH_SECONDS:.0f} s batch")


if __name__ == "__main__":
    main()
