"""A one-line shot counter on stderr for long runs, shown only when stderr is a terminal."""
from __future__ import annotations

import sys
import time
from typing import TextIO

# Runs shorter than this never print anything.
QUIET_SECONDS = 1.0
# Minimum time between two redraws of the line.
REDRAW_SECONDS = 0.25


class Progress:
    def __init__(self, label: str, total_shots: int, stream: TextIO | None = None, clock=time.monotonic):
        self.label = label
        self.total = total_shots
        self.stream = stream if stream is not None else sys.stderr
        self.clock = clock
        self.enabled = _is_terminal(self.stream)
        self.start = clock()
        self.last_draw = None

    def update(self, done_shots: int) -> None:
        if not self.enabled:
            return
        now = self.clock()
        if now - self.start < QUIET_SECONDS or (self.last_draw is not None and now - self.last_draw < REDRAW_SECONDS):
            return
        self.last_draw = now
        rate = done_shots / (now - self.start)
        self.stream.write(f"\r{self.label}: {done_shots:,}/{self.total:,} shots ({rate:,.0f} shots/s)")
        self.stream.flush()

    def finish(self) -> None:
        """Ends the line, if one was drawn, with the total time."""
        if self.last_draw is None:
            return
        elapsed = self.clock() - self.start
        self.stream.write(f"\r{self.label}: {self.total:,}/{self.total:,} shots in {elapsed:.1f} s\n")
        self.stream.flush()


def _is_terminal(stream) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False
