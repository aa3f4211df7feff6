"""`vornex stream`: detection events fed to the stream decoder round by round, with its latency.

Each shot of the input file is one experiment. Its rounds go to
`StreamMatchingDecoder.update` one at a time, the way a control system would
hand them over, and `flush` ends it. What is printed is the time per round:
the decoder's own (inside the native call) and the call's as seen from Python.
"""
from __future__ import annotations

import argparse
import json
import sys
import time

import numpy as np
import vornex_decoder_v3 as vx

from . import decode_run
from .shot_data import BOUND_HELP, FORMATS, read_shot_data


def add_stream_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--dem", required=True, metavar="FILE",
                        help="detector error model file (Stim's text format) whose detectors have a time coordinate, "
                             "or give --detectors-per-round")
    parser.add_argument("--in", dest="input", required=True, metavar="FILE",
                        help=f"detection events, one experiment per shot ('-' for standard input); {BOUND_HELP}")
    parser.add_argument("--in-format", choices=FORMATS, default="01", help="format of --in (default: 01)")
    parser.add_argument("--in-includes-appended-observables", action="store_true",
                        help="each shot of --in ends with the actual observable flips (mistakes are then counted)")
    parser.add_argument("--window", type=int, metavar="W", help="rounds matched at once (default: commit + d)")
    parser.add_argument("--commit", type=int, metavar="C",
                        help="rounds committed per window (default: the model's graph-like distance d)")
    parser.add_argument("--detectors-per-round", type=int, metavar="N",
                        help="rounds are blocks of N detector ids (for models without time coordinates)")
    parser.add_argument("--rounds", type=int, metavar="R",
                        help="rounds per experiment when longer or shorter than the model's (its middle rounds "
                             "repeat)")
    parser.add_argument("--correlated", action="store_true",
                        help="match each window in two passes, with the correlations of decomposed errors")
    parser.add_argument("--out", metavar="FILE", help="predicted observable flips ('-' for standard output)")
    parser.add_argument("--out-format", choices=FORMATS, default="01", help="format of --out (default: 01)")
    parser.add_argument("--json", action="store_true", help="print the statistics as one JSON object")


def _microseconds(ns: float) -> float:
    return round(ns / 1000.0, 3)


def run_stream(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    model = decode_run.load_model(args.dem)
    decoder = vx.StreamMatchingDecoder(model, window=args.window, commit=args.commit,
                                       detectors_per_round=args.detectors_per_round, rounds=args.rounds,
                                       enable_correlations=args.correlated)
    sizes = np.array([decoder.round_size(r) for r in range(decoder.rounds)], dtype=np.int64)
    bounds = np.concatenate([[0], np.cumsum(sizes)])
    width = int(bounds[-1])
    num_observables = model.num_observables if args.in_includes_appended_observables else 0
    packed = read_shot_data(decode_run.read_input(args.input), format=args.in_format, num_detectors=width,
                            num_observables=num_observables, bit_packed=True)
    shots = packed.shape[0]
    predictions = np.zeros((shots, model.num_observables), dtype=np.uint8)
    actual = np.zeros((shots, num_observables), dtype=np.uint8)
    call_ns = []
    started = time.perf_counter_ns()
    for shot in range(shots):
        bits = np.unpackbits(packed[shot], count=width + num_observables, bitorder="little")
        events, actual[shot] = bits[:width], bits[width:]
        for r in range(len(sizes)):
            before = time.perf_counter_ns()
            decoder.update(events[bounds[r]:bounds[r + 1]])
            call_ns.append(time.perf_counter_ns() - before)
        predictions[shot] = decoder.flush()
    elapsed_ns = time.perf_counter_ns() - started
    if args.out is not None:
        decode_run.write_output(args.out, decode_run.encode_observables(predictions, args.out_format,
                                                                        model.num_observables))
    native = decoder.latency_stats()
    calls = np.array(call_ns, dtype=np.float64) if call_ns else np.zeros(1)
    rounds_given = shots * len(sizes)
    stats = {
        "shots": shots, "rounds_per_shot": len(sizes), "window": decoder.window, "commit": decoder.commit,
        "decode_us": {"mean": _microseconds(native["mean_ns"]), "p50": _microseconds(native["p50_ns"]),
                      "p99": _microseconds(native["p99_ns"]), "max": _microseconds(native["max_ns"])},
        "call_us": {"mean": _microseconds(calls.mean()), "p50": _microseconds(np.percentile(calls, 50)),
                    "p99": _microseconds(np.percentile(calls, 99)), "max": _microseconds(calls.max())},
        "rounds_per_second": round(rounds_given / (elapsed_ns / 1e9), 1) if elapsed_ns else 0.0,
    }
    if num_observables:
        stats["mistakes"] = int(np.count_nonzero(np.any(predictions != actual, axis=1)))
    report = json.dumps(stats) if args.json else _text(stats)
    # Predictions on standard output keep it to themselves.
    print(report, file=sys.stderr if args.out == "-" else sys.stdout)


def _text(stats: dict) -> str:
    d, c = stats["decode_us"], stats["call_us"]
    lines = [
        f"{stats['shots']} experiments of {stats['rounds_per_shot']} rounds, window {stats['window']}, "
        f"commit {stats['commit']}",
        f"decode time per round (us): mean {d['mean']}, p50 {d['p50']}, p99 {d['p99']}, max {d['max']}",
        f"call time per round (us):   mean {c['mean']}, p50 {c['p50']}, p99 {c['p99']}, max {c['max']}",
        f"sustained {stats['rounds_per_second']:.0f} rounds/s",
    ]
    if "mistakes" in stats:
        lines.append(f"{stats['mistakes']} mistakes in {stats['shots']} experiments")
    return "\n".join(lines)
