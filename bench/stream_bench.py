"""Stream decoding on rotated surface-code memory experiments (Stim, circuit-level noise p on every channel).

Sections (all by default, or name some with --only):
  accuracy    logical failures of sliding windows (buffer = commit = d) against global matching, ours and
              pymatching's, on the same shots; rounds = 10 d
  correlated  the same with correlated matching in the windows, globally and in pymatching
  latency     time per round inside the decoder (mean, p50, p99, max) fed round by round, and sustained rounds/s
              on one thread; rounds = 10 d and 10^5
  throughput  whole 10^5-round experiments by parallel windows on 1 and 2 threads (a child process each, the
              pool's size fixed by VORNEX_NUM_THREADS), against global matching per round
  memory      peak resident memory of a child streaming 10^6 rounds at d = 11, after 10^5 and after 10^6

Goals (issue figures): windowed failures <= 1.05x global at d = 5..13, p = 0.003..0.005; >= 1 round/us on one core
at d = 11, p = 0.001 and >= 1.8x that on 2 threads; p99 per-round latency <= 50 us at d = 11 and <= 200 us at
d = 21, p = 0.001. --quick shrinks every size for a smoke run.
"""
from __future__ import annotations

import argparse
import json
import math
import os
import subprocess
import sys
import textwrap
import time

import numpy as np
import pymatching
import stim
import vornex_decoder_v3 as vx


def circuit(d: int, rounds: int, p: float) -> stim.Circuit:
    return stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=rounds,
                                  after_clifford_depolarization=p, before_round_data_depolarization=p,
                                  before_measure_flip_probability=p, after_reset_flip_probability=p)


def failures(predictions: np.ndarray, actual: np.ndarray) -> int:
    return int(np.count_nonzero(np.any(predictions != actual, axis=1)))


def ratio_text(a: int, b: int) -> str:
    """a / b with a rough 95% interval from the Poisson errors of both counts."""
    if b == 0:
        return "n/a (global 0)"
    r = a / b
    spread = r * math.sqrt((1 / a if a else 1) + 1 / b) * 1.96
    return f"{r:.3f} +- {spread:.3f}"


def compare_failures(args, correlated: bool) -> None:
    """Windowed against global matching on the same shots, plain or both correlated."""
    mode = "correlated " if correlated else ""
    print(f"## {mode}accuracy: failures of {mode}sliding windows (buffer = commit = d) vs global {mode}matching, "
          "same shots")
    print(f"{'code':28} {'shots':>7} {'stream':>7} {'ours':>7} {'pymatch':>7}  stream/ours        agree")
    distances = (5, 7) if args.quick else (5, 7, 9, 11, 13)
    peer_kwargs = {"enable_correlations": True} if correlated else {}

    def unpack(predictions):
        return np.unpackbits(predictions, axis=1, count=1, bitorder="little")

    for d in distances:
        for p in (0.003, 0.005):
            c = circuit(d, 10 * d, p)
            dem = c.detector_error_model(decompose_errors=True)
            shots = args.shots // (d // 2) if not args.quick else 2000
            dets, obs = c.compile_detector_sampler(seed=d).sample(shots, separate_observables=True, bit_packed=True)
            obs = unpack(obs)
            stream = unpack(vx.StreamMatchingDecoder(c, window=2 * d, commit=d, enable_correlations=correlated)
                            .predict_observables_batch(dets, bit_packed=True))
            ours = unpack(vx.MatchingDecoder.from_detector_error_model(dem, enable_correlations=correlated)
                          .predict_observables_batch(dets, bit_packed=True))
            peer = unpack(pymatching.Matching.from_detector_error_model(dem, **peer_kwargs).decode_batch(
                dets, bit_packed_shots=True, bit_packed_predictions=True, **peer_kwargs))
            fs, fo, fp = failures(stream, obs), failures(ours, obs), failures(peer, obs)
            agree = np.mean(np.all(stream == ours, axis=1))
            print(f"{f'stream_rotated_d{d}_r{10 * d}_p{p}':28} {shots:7} {fs:7} {fo:7} {fp:7}  "
                  f"{ratio_text(fs, fo):17} {agree:.4f}", flush=True)


def accuracy(args) -> None:
    compare_failures(args, correlated=False)


def correlated_accuracy(args) -> None:
    compare_failures(args, correlated=True)


def long_shot(d: int, rounds: int, p: float, seed: int) -> np.ndarray:
    dets = circuit(d, rounds, p).compile_detector_sampler(seed=seed).sample(1)
    return dets[0].astype(np.uint8)


def latency(args) -> None:
    print("## latency: time per round inside the decoder, fed round by round (ns); sustained rounds/s, one thread")
    print(f"{'code':34} {'window':>6} {'commit':>6} {'mean':>8} {'p50':>8} {'p99':>8} {'max':>9} {'rounds/s':>10}"
          f" {'global/round':>12}")
    cases = [(5, 0.001), (11, 0.001), (21, 0.001)] if args.quick else \
        [(5, 0.001), (5, 0.005), (11, 0.001), (11, 0.003), (11, 0.005), (15, 0.001), (21, 0.001), (21, 0.003)]
    for d, p in cases:
        lengths = (10 * d,) if args.quick else (10 * d, 100_000)
        for rounds in lengths:
            if rounds == 100_000 and d > 11 and p > 0.001:
                continue
            shot = long_shot(d, rounds, p, seed=d)
            model_rounds = 10 * d
            base = circuit(d, min(rounds, model_rounds), p)
            global_ns = None
            if rounds == model_rounds:
                g = vx.MatchingDecoder.from_detector_error_model(base.detector_error_model(decompose_errors=True))
                g.predict_observables(shot)
                start = time.perf_counter_ns()
                for _ in range(20):
                    g.predict_observables(shot)
                global_ns = (time.perf_counter_ns() - start) / 20 / (rounds + 1)
            for window, commit in ((2 * d, d), (3 * d, 2 * d)):
                decoder = vx.StreamMatchingDecoder(base, window=window, commit=commit, rounds=rounds + 1)
                sizes = [decoder.round_size(r) for r in range(rounds + 1)]
                bounds = np.concatenate([[0], np.cumsum(sizes)])
                # Round by round from Python (what a caller does), for the per-round latency.
                for r in range(rounds):
                    decoder.update(shot[bounds[r]:bounds[r + 1]])
                decoder.flush(shot[bounds[-2]:])
                stats = decoder.latency_stats()
                decoder.clear_latency_stats()
                # All rounds in one call, for the sustained rate without Python in the loop.
                start = time.perf_counter_ns()
                decoder.extend(shot[:bounds[-2]])
                decoder.flush(shot[bounds[-2]:])
                rate = (rounds + 1) / ((time.perf_counter_ns() - start) / 1e9)
                g_text = f"{global_ns:12.0f}" if global_ns is not None else f"{'-':>12}"
                print(f"{f'stream_rotated_d{d}_r{rounds}_p{p}':34} {window:6} {commit:6} {stats['mean_ns']:8.0f} "
                      f"{stats['p50_ns']:8} {stats['p99_ns']:8} {stats['max_ns']:9} {rate:10.0f} {g_text}",
                      flush=True)


THROUGHPUT_CHILD = textwrap.dedent("""
    import json, sys, time
    import numpy as np, stim, vornex_decoder_v3 as vx
    d, rounds, p, window, commit = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), \\
        int(sys.argv[5])
    noise = dict(after_clifford_depolarization=p, before_round_data_depolarization=p,
                 before_measure_flip_probability=p, after_reset_flip_probability=p)
    base = stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=10 * d, **noise)
    if window == 0:  # the control: global matching's pooled batch over shots of the model
        dets = base.compile_detector_sampler(seed=1).sample(max(1, rounds // (10 * d + 1))).astype(np.uint8)
        decoder = vx.MatchingDecoder.from_detector_error_model(base.detector_error_model(decompose_errors=True))
        run, n = (lambda: decoder.predict_observables_batch(dets)), len(dets) * (10 * d + 1)
    else:
        shot = stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=rounds, **noise) \\
            .compile_detector_sampler(seed=1).sample(1)[0].astype(np.uint8)
        decoder = vx.StreamMatchingDecoder(base, window=window, commit=commit, rounds=rounds + 1)
        run, n = (lambda: decoder.decode_stream(shot)), rounds + 1
    run()
    best = float("inf")
    cpu = time.process_time()
    for _ in range(3):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    print(json.dumps({"rounds_per_s": n / best, "rounds_per_cpu_s": 3 * n / (time.process_time() - cpu)}))
""")


def throughput(args) -> None:
    # On a shared machine the wall-clock ratio says as much about the load as about the decoder: the pooled
    # MatchingDecoder batch (window 0) is measured in the same minute as a control, and the rounds per CPU-second
    # show whether two threads add work (the ratio two free cores would give is about 2 x cpu(2) / cpu(1)).
    print("## throughput: one experiment by parallel windows, rounds/s (best of 3), 1 and 2 threads; "
          "window 0: the control, global matching's pooled batch")
    rounds = 10_000 if args.quick else 100_000
    print(f"{'code':34} {'window':>6} {'commit':>6} {'1 thread':>10} {'2 threads':>10} {'2/1':>6} "
          f"{'cpu 1':>10} {'cpu 2':>10}  load")
    for d, p in ((5, 0.001), (11, 0.001), (11, 0.005), (21, 0.001)):
        for window, commit in ((2 * d, d), (4 * d, 3 * d), (0, 0)):
            wall, cpu = [], []
            for threads in (1, 2):
                child = subprocess.run([sys.executable, "-c", THROUGHPUT_CHILD, str(d), str(rounds), str(p),
                                        str(window), str(commit)], capture_output=True, text=True,
                                       env={**os.environ, "VORNEX_NUM_THREADS": str(threads)}, timeout=3600)
                if child.returncode != 0:
                    raise SystemExit(child.stderr)
                result = json.loads(child.stdout)
                wall.append(result["rounds_per_s"])
                cpu.append(result["rounds_per_cpu_s"])
            print(f"{f'stream_rotated_d{d}_r{rounds}_p{p}':34} {window:6} {commit:6} {wall[0]:10.0f} "
                  f"{wall[1]:10.0f} {wall[1] / wall[0]:6.2f} {cpu[0]:10.0f} {cpu[1]:10.0f}  "
                  f"{os.getloadavg()[0]:.2f}", flush=True)


MEMORY_CHILD = textwrap.dedent("""
    import sys
    import numpy as np, stim, vornex_decoder_v3 as vx

    def kib(field):
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))

    total = int(sys.argv[1])
    noise = dict(after_clifford_depolarization=0.001, before_round_data_depolarization=0.001,
                 before_measure_flip_probability=0.001, after_reset_flip_probability=0.001)
    base = stim.Circuit.generated("surface_code:rotated_memory_z", distance=11, rounds=110, **noise)
    chunk = stim.Circuit.generated("surface_code:rotated_memory_z", distance=11, rounds=1_000, **noise) \\
        .compile_detector_sampler(seed=2).sample(1)[0].astype(np.uint8)
    decoder = vx.StreamMatchingDecoder(base, rounds=0)
    first, width = decoder.round_size(0), decoder.round_size(1)
    decoder.update(chunk[:first])
    middle = chunk[first:first + 998 * width]  # the chunk's middle rounds, fed again and again
    report = {"before_kib": kib("VmRSS")}
    fed = 1
    while fed < total:
        decoder.extend(middle)
        fed += 998
        if fed >= 100_000 and "after_1e5_kib" not in report:
            report["after_1e5_kib"] = kib("VmRSS")
    decoder.flush()
    report["rounds"] = fed
    report["end_kib"] = kib("VmRSS")
    report["peak_kib"] = kib("VmHWM")
    print(report)
""")


def memory(args) -> None:
    total = 200_000 if args.quick else 1_000_000
    print(f"## memory: resident memory (VmRSS) streaming {total} rounds at d = 11, p = 0.001 (window 22, commit 11): "
          "after the decoder is built and its first round given, after 10^5 rounds, at the end; and the peak")
    child = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(total)], capture_output=True, text=True,
                           timeout=3600)
    if child.returncode != 0:
        raise SystemExit(child.stderr)
    print(child.stdout.strip())


SECTIONS = {"accuracy": accuracy, "correlated": correlated_accuracy, "latency": latency, "throughput": throughput, "memory": memory}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", nargs="*", choices=list(SECTIONS), help="sections to run (default: all)")
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    parser.add_argument("--shots", type=int, default=100_000, help="shots at d = 5 in the accuracy section "
                                                                   "(fewer at larger d)")
    args = parser.parse_args()
    # The machine may be shared: the load says how far the times can be trusted.
    print("load average (1, 5, 15 min):", " ".join(f"{x:.2f}" for x in os.getloadavg()), f"on {os.cpu_count()} CPUs")
    for name in args.only or SECTIONS:
        SECTIONS[name](args)
        print()


if __name__ == "__main__":
    main()
