"""The Dask cluster a sweep runs on: an embedded local one sized to the machine, or an existing one by address."""
from __future__ import annotations

import contextlib
import logging
import os
import signal
from collections.abc import Iterator

# Seconds to wait for an existing scheduler to answer.
CONNECT_SECONDS = 30
LOOPBACK_ANY_PORT = "127.0.0.1:0"


def machine_cores() -> int:
    """Cores this process may run on (CPU affinity where the system tells it)."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


@contextlib.contextmanager
def dask_client(scheduler: str | None = None, workers: int | None = None) -> Iterator[tuple[object, str]]:
    """(client, description); the embedded cluster, when started here, is shut down on leaving."""
    from distributed import Client, LocalCluster
    if scheduler is not None:
        if workers is not None:
            raise ValueError("workers sizes the embedded cluster; an existing cluster at a scheduler keeps its own")
        try:
            client = Client(scheduler, timeout=CONNECT_SECONDS)
        except OSError as e:
            raise ValueError(f"cannot reach the Dask scheduler at {scheduler!r}: {e}") from None
        with client:
            yield client, f"the cluster at {scheduler}"
        return
    workers = machine_cores() if workers is None else workers
    if workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    # One single-threaded process per core; the library's own worker pool is
    # kept to one thread in each, so that the processes do not compete for cores.
    # The workers' own logs stay quiet: a failed batch reaches the caller as an error.
    # The scheduler's web server takes a free loopback port rather than the usual
    # 8787, which another cluster (or another sweep) on this machine may hold.
    # Each worker runs batch.dask_setup as it starts, which makes it ignore Ctrl-C: in a terminal Ctrl-C
    # reaches the whole process group, and the driver, not each worker, decides what stops.
    # After Ctrl-C the scheduler, shutting down, may notice a killed worker's closed connection and log it with
    # a traceback, at times after the cluster has put its handlers' levels back; the dask logger itself stays
    # quiet until the cluster is gone.
    dask_logger = logging.getLogger("distributed")
    level = dask_logger.level
    try:
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=LOOPBACK_ANY_PORT, silence_logs=logging.CRITICAL,
                          env={"VORNEX_NUM_THREADS": "1"}, preload=["vornex_tools.sweeps.batch"]) as cluster, \
                Client(cluster) as client:
            try:
                yield client, f"an embedded cluster of {workers} worker{'s' if workers != 1 else ''}"
            except KeyboardInterrupt:
                dask_logger.setLevel(logging.CRITICAL)
                _kill_workers(cluster)
                raise
    finally:
        dask_logger.setLevel(level)


def _kill_workers(cluster) -> None:
    """Ends the embedded workers at once after Ctrl-C: their batches in flight are not counted anyway, and a
    graceful close would wait for each to finish its batch."""
    from distributed.core import Status
    for nanny in list(cluster.workers.values()):
        pid = getattr(nanny, "pid", None)
        if pid:
            # A nanny closing gracefully closes itself when its worker ends, instead of starting another.
            nanny.status = Status.closing_gracefully
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
