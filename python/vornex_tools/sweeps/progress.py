"""Progress of a sweep: a live line per task on a terminal, a plain log otherwise."""
from __future__ import annotations

import shutil
import sys
import time
from dataclasses import dataclass
from typing import TextIO

from .plan import TaskPlan

# Minimum time between two redraws of the live lines.
REDRAW_SECONDS = 0.25
# Time between two status lines of a task in the plain log.
LOG_SECONDS = 30.0


@dataclass
class TaskRow:
    label: str
    plan: TaskPlan
    reported_done: bool = False
    failure: str | None = None  # why the task stopped before its stopping rule, when it failed


class SweepProgress:
    """Reports the rows' plans as their counts change; `live` defaults to whether the stream is a terminal."""

    def __init__(self, rows: list[TaskRow], stream: TextIO | None = None, *, live: bool | None = None,
                 clock=time.monotonic):
        self.rows = rows
        self.stream = stream if stream is not None else sys.stderr
        self.live = _is_terminal(self.stream) if live is None else live
        self.clock = clock
        self.start = clock()
        self.last_draw = None
        self.drawn_lines = 0
        self.last_log = {}

    def say(self, text: str) -> None:
        """A line that stays, above the live lines."""
        self._clear_live()
        self.stream.write(text + "\n")
        self.drawn_lines = 0
        self.stream.flush()

    def update(self, *, force: bool = False) -> None:
        now = self.clock()
        for row in self.rows:
            if row.plan.finished() and not row.reported_done:
                row.reported_done = True
                self.say(f"done  {self.describe(row, now)}")
        if self.live:
            if force or self.last_draw is None or now - self.last_draw >= REDRAW_SECONDS:
                self._draw(now)
            return
        for row in self.rows:
            active = row.plan.batches_sent > 0 and not row.plan.finished()
            if active and now - self.last_log.setdefault(id(row), self.start) >= LOG_SECONDS:
                self.last_log[id(row)] = now
                self.say(f"      {self.describe(row, now)}")

    def finish(self) -> None:
        self.update(force=True)
        self._clear_live()
        self.stream.flush()

    def describe(self, row: TaskRow, now: float) -> str:
        plan, budget = row.plan, row.plan.budget
        parts = [row.label, "shots " + _count(plan.shots, budget.max_shots),
                 "errors " + _count(plan.errors, budget.max_errors)]
        if plan.shots:
            parts.append(f"rate {plan.error_rate():.3g}")
        if not plan.finished():
            parts.append(self._estimate(plan, now))
        return "  ".join(parts)

    def _estimate(self, plan: TaskPlan, now: float) -> str:
        """Time left at this run's pace on the task, by whichever stopping rule comes first."""
        elapsed = now - self.start
        new_shots = plan.shots - plan.resumed_shots
        new_errors = plan.errors - plan.resumed_errors
        if elapsed <= 0 or new_shots <= 0:
            return "estimating"
        left = []
        if plan.budget.max_shots is not None:
            left.append(max(0, plan.budget.max_shots - plan.shots) * elapsed / new_shots)
        if plan.budget.max_errors is not None and new_errors > 0:
            left.append(max(0, plan.budget.max_errors - plan.errors) * elapsed / new_errors)
        return f"~{_duration(min(left))} left" if left else "estimating"

    def _draw(self, now: float) -> None:
        self.last_draw = now
        active = [row for row in self.rows if not row.reported_done]
        room = max(1, shutil.get_terminal_size().lines - 2)
        lines = [self.describe(row, now) for row in active[:room]]
        if len(active) > room:
            lines[-1] = f"... and {len(active) - room + 1} more tasks"
        width = shutil.get_terminal_size().columns - 1
        self._clear_live()
        self.stream.write("".join(line[:width] + "\n" for line in lines))
        self.drawn_lines = len(lines)
        self.stream.flush()

    def _clear_live(self) -> None:
        if self.live and self.drawn_lines:
            # Up to the first live line, then erase to the end of the screen.
            self.stream.write(f"\x1b[{self.drawn_lines}F\x1b[J")
            self.drawn_lines = 0


def _count(value: int, limit: int | None) -> str:
    return f"{value:,}" if limit is None else f"{value:,}/{limit:,}"


def _duration(seconds: float) -> str:
    if seconds < 90:
        return f"{seconds:.0f} s"
    if seconds < 5400:
        return f"{seconds / 60:.0f} min"
    return f"{seconds / 3600:.1f} h"


def _is_terminal(stream) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def task_labels(tasks) -> list[str]:
    """"decoder key=value,..." per task (anything with .decoder and .json_metadata)."""
    return [f"{t.decoder} {text}".strip() for t, text in zip(tasks, metadata_texts(tasks))]


def metadata_texts(tasks) -> list[str]:
    """"key=value,..." of each task's metadata, leaving out what every task shares."""
    metadata = [t.json_metadata if isinstance(t.json_metadata, dict) else {"meta": t.json_metadata} for t in tasks]
    shared = set.intersection(*(set(_items(m)) for m in metadata)) if len(tasks) > 1 else set()
    return [",".join(f"{k}={v}" for k, v in _items(m) if (k, v) not in shared) for m in metadata]


def _items(metadata: dict) -> list[tuple[str, str]]:
    return [(str(k), str(v)) for k, v in metadata.items()]
