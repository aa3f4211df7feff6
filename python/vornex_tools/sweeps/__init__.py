"""Logical-error-rate sweeps on Dask (needs the `sweep` extra: stim, sinter, dask, distributed)."""
from .run import sweep
from .tasks import circuit_file_tasks, generated_tasks

__all__ = ["circuit_file_tasks", "generated_tasks", "sweep"]
