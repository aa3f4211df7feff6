"""The `vornex sweep` subcommand: its arguments and its run.

Nothing here imports Dask, sinter or stim until the command runs, so the other
subcommands work without the `sweep` extra.
"""
from __future__ import annotations

import argparse
import sys

EXTRA_HINT = "the sweep command needs the sweep extra: pip install 'vornex_decoder_v3[sweep]'"


def add_sweep_arguments(parser: argparse.ArgumentParser) -> None:
    tasks = parser.add_argument_group("tasks (give circuit files, a generated family, or both)")
    tasks.add_argument("--circuits", nargs="+", default=[], metavar="FILE",
                       help="Stim circuit files; metadata from names like d=5,p=0.001.stim")
    tasks.add_argument("--generate", metavar="CODE_TASK",
                       help="a circuit family Stim generates, e.g. surface_code:rotated_memory_x, "
                            "with uniform circuit-level noise")
    tasks.add_argument("--distances", metavar="LIST", help="distances: 3,5,7 or 3:11:2 (inclusive)")
    tasks.add_argument("--rounds", default="d", metavar="LIST",
                       help="rounds: counts, d for the distance or 3d for three times it (default: d)")
    tasks.add_argument("--noise", metavar="LIST",
                       help="noise rates: 0.001,0.002 or 0.001:0.01:5 (5 rates evenly spaced on a log scale)")

    rules = parser.add_argument_group("stopping rules (per task; at least one)")
    rules.add_argument("--max-shots", metavar="N", help="stop a task after this many shots (1e6 style accepted)")
    rules.add_argument("--max-errors", metavar="N", help="stop a task after this many logical errors")

    parser.add_argument("--decoders", nargs="+", default=["vornex_matching"], metavar="NAME",
                        help="vornex_<family> decoders of this library, sinter's built-in ones (pymatching, ...) "
                             "or custom ones (default: vornex_matching)")
    parser.add_argument("--custom-decoders", metavar="MODULE:FUNCTION",
                        help="a function returning {name: sinter.Decoder}, importable on every worker")
    parser.add_argument("--save", required=True, metavar="FILE",
                        help="results in sinter's CSV layout, appended as batches finish; an existing file is "
                             "resumed (`sinter plot --in FILE` reads it)")

    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="an existing Dask cluster's scheduler, e.g. tcp://10.0.0.5:8786 (default: an embedded "
                            "cluster on this machine)")
    where.add_argument("--workers", type=int, metavar="N",
                       help="worker processes of the embedded cluster (default: one per core)")

    batches = parser.add_argument_group("batches")
    batches.add_argument("--batch-seconds", type=float, default=None, metavar="S",
                         help="worker seconds a batch aims at (default: 2)")
    batches.add_argument("--start-batch", metavar="N", help="shots of a task's first batch (default: 100)")
    batches.add_argument("--max-batch-shots", metavar="N", help="largest batch")
    batches.add_argument("--batch-shots", metavar="N", help="every batch exactly this many shots")
    batches.add_argument("--seed", type=int, metavar="N",
                         help="derive every batch's seed from N (with --batch-shots, a reproducible sweep)")
    parser.add_argument("--quiet", action="store_true", help="no progress lines or log on standard error")


def run_sweep(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    if not args.circuits and args.generate is None:
        parser.error("give --circuits FILE..., or --generate CODE_TASK with --distances and --noise")
    if args.generate is not None and (args.distances is None or args.noise is None):
        parser.error("--generate needs --distances and --noise")
    if args.max_shots is None and args.max_errors is None:
        parser.error("give --max-shots, --max-errors or both")
    try:
        from . import run, tasks
        from .decoders import load_custom_decoders
    except ImportError as e:
        raise ValueError(f"{EXTRA_HINT} ({e})") from None

    counts = {name: _optional_count(getattr(args, name), "--" + name.replace("_", "-"))
              for name in ("max_shots", "max_errors", "start_batch", "max_batch_shots", "batch_shots")}
    task_list = tasks.circuit_file_tasks(args.circuits)
    if args.generate is not None:
        task_list += tasks.generated_tasks(
            args.generate, distances=tasks.parse_int_values(args.distances, "--distances"),
            rounds=[r.strip() for r in args.rounds.split(",")],
            noise=tasks.parse_noise_values(args.noise))
    custom = load_custom_decoders(args.custom_decoders) if args.custom_decoders else None
    batch_options = {k: v for k, v in counts.items() if k not in ("max_shots", "max_errors") and v is not None}
    if args.batch_seconds is not None:
        batch_options["batch_seconds"] = args.batch_seconds
    try:
        totals = run.sweep(task_list, decoders=args.decoders, max_shots=counts["max_shots"],
                           max_errors=counts["max_errors"], save=args.save, scheduler=args.scheduler,
                           workers=args.workers, custom_decoders=custom, seed=args.seed,
                           progress=False if args.quiet else None, **batch_options)
    except KeyboardInterrupt:
        print(f"vornex sweep: stopped; every finished batch is in {args.save}; the same command resumes",
              file=sys.stderr)
        raise
    except RuntimeError as e:
        raise ValueError(str(e)) from None
    print_totals(totals)


def print_totals(totals) -> None:
    """One line per task: decoder, metadata, shots, errors and the logical error rate."""
    from .progress import metadata_texts
    rows = [(s.decoder, text, f"{s.shots:,}", f"{s.errors:,}", f"{s.errors / s.shots:.4g}" if s.shots else "-")
            for s, text in zip(totals, metadata_texts(totals))]
    header = ("decoder", "task", "shots", "errors", "rate")
    widths = [max(len(r[i]) for r in [header, *rows]) for i in range(len(header))]
    for row in [header, *rows]:
        print("  ".join(cell.ljust(w) if i < 2 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))


def _optional_count(text: str | None, what: str) -> int | None:
    if text is None:
        return None
    from .tasks import parse_count
    return parse_count(text, what)
