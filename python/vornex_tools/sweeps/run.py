"""A sweep: batches of every task on a Dask cluster until each task meets its stopping rule.

The driver sends batches, counts each finished batch once (writing its row to
the results file at once) and sizes further batches from what came back. A
batch whose worker died is run again by the scheduler, or sent again here if
the scheduler gives up on it; either way only one result of it is counted,
because each batch is a single future whose result is read once. A batch that
fails (a decoder refusing a task's model, say) fails its task alone: the
error is logged, the other tasks run on, and the sweep raises SweepFailed
with every task's totals once they are done.
"""
from __future__ import annotations

import asyncio
import hashlib
import os
import secrets
import time
import uuid
from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import TextIO

import numpy as np
import sinter

from .batch import TaskPayload, forward_payload, run_batch
from .cluster import dask_client
from .decoders import decoder_name, resolve_decoders
from .plan import DEFAULT_BATCH_SECONDS, DEFAULT_START_BATCH, Budget, TaskPlan
from .progress import SweepProgress, TaskRow, task_labels
from .results import ResultsFile

DEFAULT_DECODERS = ("vornex_matching",)
# Batches sent per worker thread: one running and one waiting, so a worker never idles between batches.
BATCHES_PER_THREAD = 2
# Longest wait for a batch before the progress lines are redrawn.
WAIT_SECONDS = 0.25
# Seconds between two questions to the scheduler about how many worker threads there are.
THREADS_REFRESH_SECONDS = 2.0
# Times a batch is sent again after the scheduler gave up on it (its workers kept dying).
MAX_RESENDS = 3


class SweepFailed(RuntimeError):
    """Some tasks failed; the others ran to their stopping rules. Carries the totals of every task, as a
    successful sweep returns them, and each failed task's error by its label."""

    def __init__(self, totals: list[sinter.TaskStats], failures: dict[str, str]):
        self.totals = totals
        self.failures = failures
        where = "; ".join(f"task {label}: {text}" for label, text in failures.items())
        count = "" if len(failures) == 1 else f"{len(failures)} of {len(totals)} tasks failed: "
        super().__init__(count + where)


@dataclass
class _SweepTask:
    task: sinter.Task  # decoder and detector error model set
    payload: TaskPayload
    plan: TaskPlan
    row: TaskRow
    seed_key: int  # tells this task's batch seeds apart from other tasks'
    payload_future: object = None


@dataclass
class _Batch:
    item: _SweepTask
    shots: int
    seed: int
    sends: int = 1


def sweep(tasks: Iterable[sinter.Task], *, decoders: Iterable[str] = DEFAULT_DECODERS,
          max_shots: int | None = None, max_errors: int | None = None,
          save: str | os.PathLike | None = None, scheduler: str | None = None, workers: int | None = None,
          custom_decoders: Mapping[str, sinter.Decoder] | None = None,
          batch_seconds: float = DEFAULT_BATCH_SECONDS, start_batch: int = DEFAULT_START_BATCH,
          max_batch_shots: int | None = None, batch_shots: int | None = None, seed: int | None = None,
          progress: TextIO | bool | None = None) -> list[sinter.TaskStats]:
    """Samples and decodes every task with every decoder on Dask until its stopping rule is met.

    tasks: `sinter.Task`s with a circuit; a task without a decoder runs with
        each of `decoders`. A task's own `collection_options` narrow the
        limits given here.
    decoders: this library's families by any of their names, with options
        ("matching", "vornex_uf", "bposd:osd_order=7"; recorded as
        `vornex_<family>[:options]`), sinter's built-in decoders (e.g.
        "pymatching") or `custom_decoders`.
    max_shots, max_errors: stopping rules; a task stops at whichever it meets
        first (errors can overshoot by the batches in flight).
    save: results file in sinter's CSV layout. Rows are appended as batches
        finish; what it already holds counts towards the stopping rules, so
        the same call after a stop resumes.
    scheduler: address of an existing Dask scheduler; by default an embedded
        cluster of `workers` single-threaded processes (one per core).
    batch_seconds: worker seconds a batch aims at; `start_batch` shots first.
    batch_shots: every batch this many shots (with `seed`, a reproducible
        run). seed: derives every batch's seed; random by default.
    progress: a stream for progress (live lines on a terminal, a plain log
        otherwise); None for standard error, False for none.

    Returns the totals of each task (earlier rows of the file included), in
    the order of the tasks. A task whose batches fail stops there while the
    others go on; at the end SweepFailed carries the totals and the errors.
    """
    if isinstance(decoders, str):
        decoders = [decoders]
    options = sinter.CollectionOptions(max_shots=max_shots, max_errors=max_errors, start_batch_size=start_batch,
                                       max_batch_size=max_batch_shots, max_batch_seconds=batch_seconds)
    prepared = _prepare_tasks(tasks, decoders, custom_decoders)
    base_seed = secrets.randbits(64) if seed is None else seed
    with ResultsFile(save) if save is not None else _NoResults() as results:
        items = _sweep_items(prepared, options, batch_shots, results.previous)
        stream = None if progress is True else progress
        reporter = SweepProgress([item.row for item in items], stream=stream) if progress is not False else None
        if results.dropped_tail and reporter:
            reporter.say(f"sweep: cut an unfinished last row ({results.dropped_tail} bytes) from {results.path}")
        if any(not item.plan.finished() for item in items):
            with dask_client(scheduler, workers) as (client, where):
                if reporter:
                    reporter.say(f"sweep: {len(items)} task{'s' if len(items) != 1 else ''} on {where}"
                                 + (f", results in {results.path}" if save is not None else ""))
                _Driver(client, items, results, reporter, base_seed).run()
        if reporter:
            reporter.finish()
    totals = [sinter.TaskStats(strong_id=item.payload.strong_id, decoder=item.task.decoder,
                               json_metadata=item.task.json_metadata, shots=item.plan.shots,
                               errors=item.plan.errors, seconds=item.plan.seconds) for item in items]
    failures = {item.row.label: item.row.failure for item in items if item.row.failure is not None}
    if failures:
        raise SweepFailed(totals, failures)
    return totals


class _Driver:
    def __init__(self, client, items: list[_SweepTask], results, reporter: SweepProgress | None, base_seed: int):
        self.client = client
        self.items = items
        self.results = results
        self.reporter = reporter
        self.base_seed = base_seed
        self.run_token = uuid.uuid4().hex[:12]  # batch keys stay unique on a scheduler shared with other sweeps
        self.in_flight: dict[object, _Batch] = {}
        self.threads = -1  # worker threads in the cluster when last asked; -1 before the first question
        self.threads_asked = -float("inf")

    def run(self) -> None:
        from distributed import wait
        try:
            while True:
                self._send_batches()
                if not self.in_flight:
                    return
                try:
                    done = wait(list(self.in_flight), timeout=WAIT_SECONDS, return_when="FIRST_COMPLETED").done
                except (TimeoutError, asyncio.TimeoutError):  # distinct classes before Python 3.11
                    done = ()
                for future in done:
                    self._take(future)
                if self.reporter:
                    self.reporter.update()
        finally:
            if self.in_flight:
                self.client.cancel(list(self.in_flight))
            for item in self.items:
                item.payload_future = None

    def _send_batches(self) -> None:
        capacity = BATCHES_PER_THREAD * self._worker_threads()
        while len(self.in_flight) < capacity:
            wanting = [item for item in self.items if item.row.failure is None and item.plan.wants_batch()]
            if not wanting:
                return
            item = min(wanting, key=lambda i: (i.plan.in_flight_batches, i.plan.shots))
            shots = item.plan.next_batch_shots(parallel_batches=capacity)
            self._send(_Batch(item, shots, self._batch_seed(item)))
            item.plan.sent(shots)

    def _send(self, batch: _Batch) -> None:
        item = batch.item
        if item.payload_future is None or item.payload_future.status in ("cancelled", "error", "lost"):
            item.payload_future = self.client.submit(forward_payload, item.payload, pure=False,
                                                     key=f"vornex-task-{self.run_token}-{item.seed_key:x}")
        key = f"vornex-batch-{self.run_token}-{item.seed_key:x}-{item.plan.batches_sent}-{batch.sends}"
        future = self.client.submit(run_batch, item.payload_future, batch.shots, batch.seed, key=key, pure=False)
        self.in_flight[future] = batch

    def _take(self, future) -> None:
        batch = self.in_flight.pop(future)
        item = batch.item
        if future.status == "finished":
            result = future.result()
            item.plan.counted(result.shots, result.errors, result.seconds)
            self.results.append(sinter.TaskStats(
                strong_id=item.payload.strong_id, decoder=item.task.decoder, json_metadata=item.task.json_metadata,
                shots=result.shots, errors=result.errors, seconds=result.seconds))
            if item.plan.finished():
                item.payload_future = None  # lets the workers drop the task's payload
            return
        if item.row.failure is not None:
            return  # a batch of a task that already failed
        error = future.exception() if future.status == "error" else None
        if _is_lost_worker(error) or future.status in ("cancelled", "lost"):
            if batch.sends > MAX_RESENDS:
                self._fail(item, f"a batch was lost {batch.sends} times with its workers")
                return
            batch.sends += 1
            self._send(batch)
            return
        self._fail(item, f"{type(error).__name__}: {' '.join(str(error).splitlines())}")

    def _fail(self, item: _SweepTask, text: str) -> None:
        """Stops the task: its batches in flight are dropped and no more are sent; the others go on."""
        item.row.failure = text
        item.row.reported_done = True
        dropped = [future for future, batch in self.in_flight.items() if batch.item is item]
        for future in dropped:
            del self.in_flight[future]
        if dropped:
            self.client.cancel(dropped)
        item.payload_future = None
        if self.reporter:
            self.reporter.say(f"failed {item.row.label}: {text}")

    def _batch_seed(self, item: _SweepTask) -> int:
        # Distinct per task, per batch of this run and per resumed starting point,
        # so a resumed sweep never replays the shots it already counted.
        entropy = [self.base_seed, item.seed_key, item.plan.resumed_shots, item.plan.batches_sent]
        return int(np.random.SeedSequence(entropy).generate_state(1, dtype=np.uint64)[0])

    def _worker_threads(self) -> int:
        now = time.monotonic()
        if now - self.threads_asked >= THREADS_REFRESH_SECONDS:
            self.threads_asked = now
            threads = sum(self.client.nthreads().values())
            if threads == 0 and self.threads != 0 and self.reporter:
                self.reporter.say("sweep: no workers in the cluster yet; batches wait for one to join")
            self.threads = threads
        return max(1, self.threads)


def _is_lost_worker(error) -> bool:
    from distributed import KilledWorker
    return isinstance(error, KilledWorker)


class _NoResults:
    """Stands in for a results file when none is kept."""
    path = None
    previous: dict = {}
    dropped_tail = 0

    def append(self, stats) -> None:
        pass

    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        pass


def _prepare_tasks(tasks, decoders, custom_decoders) -> list[tuple[sinter.Task, sinter.Decoder]]:
    """(task with its decoder and model, decoder object) for each task and decoder, each task once."""
    tasks = list(tasks)
    decoders = [decoder_name(name, custom_decoders) for name in decoders]
    names = list(dict.fromkeys(decoders + [decoder_name(t.decoder, custom_decoders) for t in tasks
                                           if t.decoder is not None]))
    available = resolve_decoders(names, custom_decoders)
    prepared, seen = [], set()
    for task in tasks:
        if task.circuit is None:
            raise ValueError("every task needs a circuit to sample")
        if task.postselection_mask is not None or task.postselected_observables_mask is not None:
            raise ValueError("tasks with postselection are not supported by sweep")
        model = task.detector_error_model if task.detector_error_model is not None else _model_of(task.circuit)
        for name in ([decoder_name(task.decoder, custom_decoders)] if task.decoder is not None else decoders):
            full = sinter.Task(circuit=task.circuit, decoder=name, detector_error_model=model,
                               json_metadata=task.json_metadata, collection_options=task.collection_options)
            if full.strong_id() not in seen:
                seen.add(full.strong_id())
                prepared.append((full, available[name]))
    return prepared


def _model_of(circuit):
    """The detector error model decoders are given: decomposed into graph edges where the circuit allows."""
    try:
        return circuit.detector_error_model(decompose_errors=True, approximate_disjoint_errors=True)
    except ValueError:
        return circuit.detector_error_model(approximate_disjoint_errors=True)


def _sweep_items(prepared, options: sinter.CollectionOptions, batch_shots, previous) -> list[_SweepTask]:
    labels = task_labels([task for task, _ in prepared])
    items = []
    for (task, decoder), label in zip(prepared, labels):
        opts = task.collection_options.combine(options)
        if opts.max_shots is None and opts.max_errors is None:
            raise ValueError(f"task {label} has no stopping rule: give max_shots or max_errors")
        budget = Budget(max_shots=opts.max_shots, max_errors=opts.max_errors,
                        start_batch=opts.start_batch_size or DEFAULT_START_BATCH,
                        max_batch_shots=opts.max_batch_size,
                        batch_seconds=opts.max_batch_seconds or DEFAULT_BATCH_SECONDS,
                        fixed_batch_shots=batch_shots)
        strong_id = task.strong_id()
        before = previous.get(strong_id)
        plan = TaskPlan(budget, shots=before.shots, errors=before.errors, seconds=before.seconds) if before \
            else TaskPlan(budget)
        payload = TaskPayload(strong_id=strong_id, circuit_text=str(task.circuit),
                              dem_text=str(task.detector_error_model), decoder_name=task.decoder, decoder=decoder)
        seed_key = int.from_bytes(hashlib.sha256(strong_id.encode()).digest()[:8], "little")
        items.append(_SweepTask(task, payload, plan, TaskRow(label, plan), seed_key))
    return items
