"""The results file: sinter's CSV layout, one row per batch, appended as batches arrive.

Rows of one task add up (as `sinter plot` and `sinter.read_stats_from_csv_files`
add them), so a sweep resumes from whatever the file holds, whichever tool
wrote it.
"""
from __future__ import annotations

import os

import sinter

# Columns a results file begins with (sinter's own files may lack the last, custom_counts).
REQUIRED_COLUMNS = ["shots", "errors", "discards", "seconds", "decoder", "strong_id", "json_metadata"]


class ResultsFile:
    """A results file opened for appending, with the totals it already held."""

    def __init__(self, path: str | os.PathLike):
        self.path = os.fspath(path)
        _check_header(self.path)
        self.dropped_tail = _drop_torn_tail(self.path)
        self.previous = read_totals(self.path)
        self._fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o666)
        if os.fstat(self._fd).st_size == 0:
            self._write(sinter.CSV_HEADER + "\n")

    def append(self, stats: sinter.TaskStats) -> None:
        self._write(stats.to_csv_line() + "\n")

    def _write(self, text: str) -> None:
        # One write call per row on an append-only descriptor: a stopped sweep
        # leaves whole rows behind, and nothing buffered in this process is lost.
        data = text.encode("utf-8")
        written = os.write(self._fd, data)
        while written < len(data):
            written += os.write(self._fd, data[written:])

    def close(self) -> None:
        if self._fd is not None:
            os.close(self._fd)
            self._fd = None

    def __enter__(self) -> ResultsFile:
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def read_totals(path: str | os.PathLike) -> dict[str, sinter.TaskStats]:
    """strong_id -> the task's summed rows; empty when the file is missing or empty."""
    try:
        if os.path.getsize(path) == 0:
            return {}
    except FileNotFoundError:
        return {}
    try:
        stats = sinter.read_stats_from_csv_files(path)
    except (ValueError, KeyError, TypeError) as e:
        raise ValueError(f"cannot resume from {os.fspath(path)!r}: not a sinter results file ({e})") from None
    return {s.strong_id: s for s in stats}


def _check_header(path: str) -> None:
    """Refuses, before anything is cut or appended, a file that does not begin as a results file."""
    try:
        with open(path, "rb") as f:
            first = f.readline(4096)
    except FileNotFoundError:
        return
    fields = [field.strip() for field in first.decode("utf-8", "replace").split(",")]
    expected = [field.strip() for field in sinter.CSV_HEADER.split(",")]
    if first and fields[:len(REQUIRED_COLUMNS)] != REQUIRED_COLUMNS:
        raise ValueError(f"cannot resume from {path!r}: it does not begin with the header "
                         f"{','.join(expected)!r}")


def _drop_torn_tail(path: str) -> int:
    """Cuts an unfinished last row (a write cut short), which no reader could parse; returns the bytes cut."""
    try:
        with open(path, "rb+") as f:
            size = f.seek(0, os.SEEK_END)
            if size == 0:
                return 0
            f.seek(size - 1)
            if f.read(1) == b"\n":
                return 0
            keep = _last_newline_end(f, size)
            f.truncate(keep)
            return size - keep
    except FileNotFoundError:
        return 0


def _last_newline_end(f, size: int) -> int:
    block = 1 << 16
    end = size
    while end > 0:
        start = max(0, end - block)
        f.seek(start)
        found = f.read(end - start).rfind(b"\n")
        if found >= 0:
            return start + found + 1
        end = start
    return 0
