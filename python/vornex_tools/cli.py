"""The `vornex` command: predict observables, count mistakes, sweep logical error rates, serve tools.

Stim's and PyMatching's spellings are accepted beside the dashed ones
(`--in_format`, `--out_format`, `--obs_out`, `--obs_in`, `count_mistakes`).
A decoder is a family with optional options, `--decoder bposd:osd_order=7`,
as sinter and `vornex sweep` take it. Exit codes: 0 success, 1 an error
(bad arguments, unreadable or malformed files, widths that do not match),
reported as one `vornex: error:` line; 130 interrupted.
"""
from __future__ import annotations

import argparse
import json
import sys
import time

import numpy as np

from . import decode_run
from .arguments import Parser, add_option
from .families import DEFAULT_FAMILY, family_table, parse_decoder_spec
from .shot_data import BOUND_HELP, FORMATS
from .stream_command import add_stream_arguments, run_stream
from .sweeps.command import add_sweep_arguments, run_sweep

DEFAULT_DECODER = DEFAULT_FAMILY
EXIT_ERROR = 1
EXIT_BAD_INPUT = EXIT_ERROR
EXIT_INTERRUPTED = 130


def _add_model_arguments(parser: argparse.ArgumentParser, *, required: bool) -> None:
    add_option(parser, "--dem", required=required, metavar="FILE",
               help="detector error model file (Stim's text format)")
    add_option(parser, "--in", dest="input", required=required, metavar="FILE",
               help=f"detection events, one shot per record ('-' for standard input); {BOUND_HELP}")
    add_option(parser, "--in-format", choices=FORMATS, default="01", help="format of --in (default: 01)")
    add_option(parser, "--in-includes-appended-observables", action="store_true",
               help="each shot of --in ends with the actual observable flips")
    families = ", ".join(f.name for f in family_table())
    add_option(parser, "--decoder", default=DEFAULT_DECODER, metavar="FAMILY[:OPTION=VALUE,...]",
               help=f"decoder family ({families}; default: {DEFAULT_DECODER}) with options of its "
                    "from_detector_error_model, e.g. bposd:osd_order=7")


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(prog="vornex", description="Quantum error correction decoding from the shell.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    predict = commands.add_parser("predict", help="predict observable flips from detection events",
                                  description="Decode detection events and write the predicted observable flips.")
    _add_model_arguments(predict, required=True)
    add_option(predict, "--out", "--obs_out", required=True, metavar="FILE",
               help="predictions ('-' for standard output)")
    add_option(predict, "--out-format", "--obs_out_format", choices=FORMATS, default="01",
               help="format of --out (default: 01)")
    predict.set_defaults(run=run_predict)

    count = commands.add_parser(
        "count", aliases=["count_mistakes"], help="count mistaken predictions",
        description="Count shots whose predicted observable flips differ from the actual ones. Predictions come "
                    "from --predictions, or are decoded here from --dem and --in. Called as count_mistakes it "
                    "prints PyMatching's line, 'MISTAKES / SHOTS'.")
    _add_model_arguments(count, required=False)
    add_option(count, "--predictions", metavar="FILE", help="predicted observable flips")
    add_option(count, "--predictions-format", choices=FORMATS, default="01",
               help="format of --predictions (default: 01)")
    add_option(count, "--obs", "--obs_in", metavar="FILE", help="actual observable flips")
    add_option(count, "--obs-format", "--obs_in_format", choices=FORMATS, default="01",
               help="format of --obs (default: 01)")
    add_option(count, "--num-observables", type=int, metavar="N",
               help="observables per shot, when there is no --dem to tell")
    add_option(count, "--json", action="store_true", help="print the counts as one JSON object")
    add_option(count, "--out", metavar="FILE", help="write the counts there instead of to standard output")
    add_option(count, "--time", action="store_true",
               help="print the decoding time, in all and per shot, on standard error")
    count.set_defaults(run=run_count)

    sweep = commands.add_parser(
        "sweep", help="logical error rates of decoders over circuits, on Dask",
        description="Sample and decode circuits in batches on a Dask cluster (an embedded one by default) until "
                    "each task meets its stopping rule; results go to a sinter CSV file as they arrive.")
    add_sweep_arguments(sweep)
    sweep.set_defaults(run=run_sweep)

    stream = commands.add_parser(
        "stream", help="decode detection events round by round and report the latency",
        description="Feed each shot's rounds to the stream decoder one at a time (exact matching on sliding "
                    "windows) and print the time per round; optionally write the predictions.")
    add_stream_arguments(stream)
    stream.set_defaults(run=run_stream)

    serve = commands.add_parser("serve", help="run the JSON-RPC tool server on standard input and output")
    serve.set_defaults(run=run_serve)
    return parser


def _decoder_spec(args: argparse.Namespace):
    """The --decoder spec, checked before any file is read."""
    return parse_decoder_spec(args.decoder)


def _load_model(path: str):
    model = decode_run.load_model(path)
    if model.num_observables == 0:
        warn(f"the model {path!r} has no observables: every prediction is empty")
    return model


def warn(message: str) -> None:
    print(f"vornex: warning: {message}", file=sys.stderr)


def run_predict(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    _decoder_spec(args)
    model = _load_model(args.dem)
    events = decode_run.read_events(args.input, args.in_format, model,
                                    appended_observables=args.in_includes_appended_observables)
    predictions = decode_run.predict(model, args.decoder, events.packed_detectors, label="vornex predict")
    decode_run.write_output(args.out, decode_run.encode_observables(predictions, args.out_format,
                                                                    model.num_observables))


def run_count(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    predictions, actual = _count_inputs(args, parser)
    if predictions.shape != actual.shape:
        raise ValueError(f"predictions have {predictions.shape[0]} shots of {predictions.shape[1]} observables "
                         f"but the actual flips have {actual.shape[0]} shots of {actual.shape[1]}")
    shots = predictions.shape[0]
    errors = int(np.count_nonzero(np.any(predictions != actual, axis=1)))
    rate = errors / shots if shots else 0.0
    if args.json:
        text = json.dumps({"shots": shots, "errors": errors, "logical_error_rate": rate})
    elif args.command == "count_mistakes":
        text = f"{errors} / {shots}"  # what scripts written for PyMatching's count_mistakes parse
    else:
        text = f"{errors} mistakes in {shots} shots (logical error rate {rate:.6g})"
    decode_run.write_output(args.out or "-", (text + "\n").encode())


def _count_inputs(args: argparse.Namespace, parser: argparse.ArgumentParser) -> tuple[np.ndarray, np.ndarray]:
    """(predicted, actual) observable flips, each (shots, num_observables) uint8."""
    if args.predictions is None and (args.dem is None or args.input is None):
        parser.error("give --predictions, or --dem and --in to decode")
    if args.obs is None and not (args.predictions is None and args.in_includes_appended_observables):
        parser.error("give --obs, or --in with --in-includes-appended-observables")
    if args.dem is None and args.num_observables is None:
        parser.error("give --dem or --num-observables")
    if args.predictions is None:
        _decoder_spec(args)
    model = _load_model(args.dem) if args.dem is not None else None
    num_observables = model.num_observables if model is not None else args.num_observables
    if args.predictions is not None:
        predictions = decode_run.read_observables(args.predictions, args.predictions_format, num_observables)
        actual = None
    else:
        events = decode_run.read_events(args.input, args.in_format, model,
                                        appended_observables=args.in_includes_appended_observables)
        started = time.perf_counter()
        predictions = decode_run.predict(model, args.decoder, events.packed_detectors, label="vornex count")
        if args.time:
            _print_time(time.perf_counter() - started, predictions.shape[0])
        actual = events.observables
    if args.obs is not None:
        actual = decode_run.read_observables(args.obs, args.obs_format, num_observables)
    return predictions, actual


def _print_time(seconds: float, shots: int) -> None:
    """The decoding time in PyMatching's words and unit."""
    per_shot = seconds / shots if shots else 0.0
    print(f"Total decoding time: {seconds * 1e6:.0f}us\nDecoding time per shot: {per_shot * 1e6:.3g}us",
          file=sys.stderr)


def run_serve(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    from vornex_tools import mcp_server
    mcp_server.serve()


def main(argv: list[str] | None = None) -> int:
    import vornex_decoder_v3 as vx
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        args.run(args, parser)
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except (Exception, vx.PanicException) as e:  # noqa: BLE001 - every failure is one line, never a traceback
        print(f"vornex: error: {error_text(e)}", file=sys.stderr)
        return EXIT_ERROR
    return 0


def error_text(error: BaseException) -> str:
    """The error on one line; its kind is named unless it is a plain bad-input error."""
    text = " ".join(str(error).split("\n")).strip()
    if isinstance(error, (ValueError, OSError)) and text:
        return text
    if isinstance(error, MemoryError):
        return f"not enough memory ({text or 'MemoryError'})"
    return f"{type(error).__name__}: {text}" if text else type(error).__name__
