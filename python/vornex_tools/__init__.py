"""Tools on top of vornex_decoder_v3: shot data files in Stim's layouts, the `vornex` command, a sinter plugin
and logical-error-rate sweeps on Dask."""
from __future__ import annotations

from .families import available_families, build_decoder, family_table, parse_decoder_spec
from .shot_data import FORMATS, ShotDataError, encode_shot_data, read_shot_data, write_shot_data

__all__ = ["FORMATS", "ShotDataError", "available_families", "build_decoder", "encode_shot_data", "family_table",
           "parse_decoder_spec", "read_shot_data", "sinter_decoders", "sweep", "write_shot_data"]


def sinter_decoders() -> dict:
    """sinter custom decoders, `vornex_<family>` for every family (needs the `sinter` extra)."""
    # Imported here so that the rest of the package works without sinter installed.
    from .sinter_plugin import sinter_decoders as decoders
    return decoders()


def sweep(tasks, **options):
    """Logical error rates on Dask until each task meets its stopping rule (needs the `sweep` extra).

    See `vornex_tools.sweeps.sweep` for the options; returns sinter.TaskStats totals per task.
    """
    from .sweeps import sweep as run_sweep
    return run_sweep(tasks, **options)
