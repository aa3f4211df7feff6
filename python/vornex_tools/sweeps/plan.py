"""Per-task bookkeeping of a sweep: what is counted, what is in flight, how big the next batch is.

Nothing here talks to a cluster, so the stopping rules and the batch sizing
can be checked on their own.
"""
from __future__ import annotations

import math
from dataclasses import dataclass

# Shots of a task's first batch, run alone to measure the task's speed.
DEFAULT_START_BATCH = 100
# Worker seconds a batch aims at: long enough that scheduling costs little,
# short enough that a lost worker or a stop loses little.
DEFAULT_BATCH_SECONDS = 2.0
# Under an error limit, a batch is at most this many times the shots counted so far.
ERROR_GROWTH = 4


@dataclass(frozen=True)
class Budget:
    """Stopping rules and batch limits of one task."""
    max_shots: int | None
    max_errors: int | None
    start_batch: int = DEFAULT_START_BATCH
    max_batch_shots: int | None = None
    batch_seconds: float = DEFAULT_BATCH_SECONDS
    fixed_batch_shots: int | None = None  # every batch this size (reproducible runs); no timing involved


class TaskPlan:
    """Counts of one task (those found in the results file included) and the batches sent for it."""

    def __init__(self, budget: Budget, *, shots: int = 0, errors: int = 0, seconds: float = 0.0):
        self.budget = budget
        self.shots = shots
        self.errors = errors
        self.seconds = seconds
        self.resumed_shots = shots
        self.resumed_errors = errors
        self.in_flight_shots = 0
        self.in_flight_batches = 0
        self.batches_done = 0  # batches counted by this run
        self.batches_sent = 0  # batches handed out by this run (numbers their seeds)

    def stopping_rule_met(self) -> bool:
        b = self.budget
        return ((b.max_shots is not None and self.shots >= b.max_shots)
                or (b.max_errors is not None and self.errors >= b.max_errors))

    def finished(self) -> bool:
        return self.in_flight_batches == 0 and (self.stopping_rule_met() or self._unsent_shots() == 0)

    def wants_batch(self) -> bool:
        """Whether another batch should be sent now."""
        if self.stopping_rule_met() or self._unsent_shots() == 0:
            return False
        if self.shots == 0 and self.in_flight_batches > 0:
            return False  # the first batch measures the speed before more are sent
        if self.budget.max_errors is not None and self.errors > 0:
            return self.errors + self.in_flight_shots * self.error_rate() < self.budget.max_errors
        return True

    def next_batch_shots(self, parallel_batches: int = 1) -> int:
        """Shots of the next batch, with `parallel_batches` batches of the sweep able to run at once."""
        b = self.budget
        if b.fixed_batch_shots is not None:
            shots = b.fixed_batch_shots
        elif self.shots == 0 or self.seconds <= 0:
            shots = b.start_batch
        else:
            shots = b.batch_seconds * self.shots / self.seconds
            if b.max_errors is not None:
                # Few errors seen say little of the error rate: grow step by step so one batch cannot overshoot
                # the error limit many times over.
                shots = min(shots, ERROR_GROWTH * self.shots)
            if b.max_errors is not None and self.errors > 0:
                # Shots that should bring the remaining errors, shared among the batches that can run at once.
                remaining = b.max_errors - self.errors - self.in_flight_shots * self.error_rate()
                shots = min(shots, max(remaining, 1) / self.error_rate() / max(1, parallel_batches))
            shots = max(shots, b.start_batch)
        if b.max_batch_shots is not None:
            shots = min(shots, b.max_batch_shots)
        return max(1, min(math.ceil(shots), self._unsent_shots()))

    def error_rate(self) -> float:
        return self.errors / self.shots if self.shots else 0.0

    def sent(self, shots: int) -> None:
        self.in_flight_shots += shots
        self.in_flight_batches += 1
        self.batches_sent += 1

    def lost(self, shots: int) -> None:
        """A batch that will not come back (it is sent again as a new batch if still wanted)."""
        self.in_flight_shots -= shots
        self.in_flight_batches -= 1

    def counted(self, shots: int, errors: int, seconds: float) -> None:
        self.in_flight_shots -= shots
        self.in_flight_batches -= 1
        self.shots += shots
        self.errors += errors
        self.seconds += seconds
        self.batches_done += 1

    def _unsent_shots(self) -> float:
        if self.budget.max_shots is None:
            return math.inf
        return max(0, self.budget.max_shots - self.shots - self.in_flight_shots)
