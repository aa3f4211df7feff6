"""The `vornex sweep` subcommand: its arguments and its run.

Nothing here imports Dask, sinter or stim until the command runs, so the other
subcommands work without the `sweep` extra.
"""
from __future__ import annotations

import argparse
import sys

from ..arguments import add_option

EXTRA_HINT = "the sweep command needs the sweep extra: pip install 'vornex_decoder_v3[sweep]'"


def add_sweep_arguments(parser: argparse.ArgumentParser) -> None:
    tasks = parser.add_argument_group("tasks (give circuit files, a generated family, or both)")
    add_option(tasks, "--circuits", nargs="+", default=[], metavar="FILE",
               help="Stim circuit files; metadata from names like d=5,p=0.001.stim")
    add_option(tasks, "--generate", metavar="CODE_TASK",
               help="a circuit family Stim generates, e.g. surface_code:rotated_memory_x, "
                    "with uniform circuit-level noise")
    add_option(tasks, "--distances", metavar="LIST", help="distances: 3,5,7 or 3:11:2 (inclusive)")
    add_option(tasks, "--rounds", default="d", metavar="LIST",
               help="rounds: counts, d for the distance or 3d for three times it (default: d)")
    add_option(tasks, "--noise", metavar="LIST",
               help="noise rates: 0.001,0.002 or 0.001:0.01:5 (5 rates evenly spaced on a log scale)")

    rules = parser.add_argument_group("stopping rules (per task; at least one)")
    add_option(rules, "--max-shots", metavar="N", help="stop a task after this many shots (1e6 style accepted)")
    add_option(rules, "--max-errors", metavar="N", help="stop a task after this many logical errors")

    add_option(parser, "--decoders", nargs="+", default=["vornex_matching"], metavar="NAME",
               help="this library's families (matching or vornex_matching, with options as in "
                    "bposd:osd_order=7), sinter's built-in decoders (pymatching, ...) or custom ones "
                    "(default: vornex_matching); results name ours vornex_<family>")
    add_option(parser, "--custom-decoders", "--custom_decoders_module_function", metavar="MODULE:FUNCTION",
               help="a function returning {name: sinter.Decoder}, importable on every worker")
    add_option(parser, "--save", "--save_resume_filepath", required=True, metavar="FILE",
               help="results in sinter's CSV layout, appended as batches finish; an existing file is "
                    "resumed (`sinter plot --in FILE` reads it)")

    where = parser.add_mutually_exclusive_group()
    add_option(where, "--scheduler", metavar="ADDRESS",
               help="an existing Dask cluster's scheduler, e.g. tcp://10.0.0.5:8786 (default: an embedded "
                    "cluster on this machine)")
    add_option(where, "--workers", "--processes", type=int, metavar="N",
               help="worker processes of the embedded cluster (default: one per core)")

    batches = parser.add_argument_group("batches")
    add_option(batches, "--batch-seconds", type=float, default=None, metavar="S",
               help="worker seconds a batch aims at (default: 2)")
    add_option(batches, "--start-batch", metavar="N", help="shots of a task's first batch (default: 100)")
    add_option(batches, "--max-batch-shots", metavar="N", help="largest batch")
    add_option(batches, "--batch-shots", metavar="N", help="every batch exactly this many shots")
    add_option(batches, "--seed", type=int, metavar="N",
               help="derive every batch's seed from N (with --batch-shots, a reproducible sweep)")
    add_option(parser, "--quiet", action="store_true", help="no progress lines or log on standard error")


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
    except run.SweepFailed as e:
        # The other tasks ran to the end: their totals are printed, then the failures as the error.
        print_totals(e.totals, failed=[label in e.failures for label in _labels(e.totals)])
        raise ValueError(str(e)) from None
    except RuntimeError as e:
        raise ValueError(str(e)) from None
    print_totals(totals)


def _labels(totals) -> list[str]:
    from .progress import task_labels
    return task_labels(totals)


def print_totals(totals, failed: list[bool] | None = None) -> None:
    """One line per task: decoder, metadata, shots, errors and the logical error rate ("failed" for a task
    that failed)."""
    from .progress import metadata_texts
    failed = failed or [False] * len(totals)
    rows = [(s.decoder, text, f"{s.shots:,}", f"{s.errors:,}",
             "failed" if bad else f"{s.errors / s.shots:.4g}" if s.shots else "-")
            for s, text, bad in zip(totals, metadata_texts(totals), failed)]
    header = ("decoder", "task", "shots", "errors", "rate")
    widths = [max(len(r[i]) for r in [header, *rows]) for i in range(len(header))]
    for row in [header, *rows]:
        print("  ".join(cell.ljust(w) if i < 2 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))


def _optional_count(text: str | None, what: str) -> int | None:
    if text is None:
        return None
    from .tasks import parse_count
    return parse_count(text, what)
