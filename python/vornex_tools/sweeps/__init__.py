"""Logical-error-rate sweeps on Dask (needs the `sweep` extra: stim, sinter, dask, distributed)."""
from .run import SweepFailed, sweep
from .tasks import circuit_file_tasks, generated_tasks

__all__ = ["SweepFailed", "circuit_file_tasks", "generated_tasks", "sweep"]
