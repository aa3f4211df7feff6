"""Shot data files in the layouts Stim reads and writes: 01, b8, r8, ptb64, hits and dets.

A shot is a row of bits: measurement results, then detection events, then
observable flips (any of the three may be empty; only the dets format tells
them apart). Arrays in and out are uint8 0/1 of shape (shots, bits), or
bit-packed (shots, ceil(bits / 8)) in little bit order when asked for.
Every fixed-layout format is converted with whole-array NumPy operations.

Files are read whole (the formats without a fixed shot length cannot be split
without reading them), so what is read is bounded: a file, and the rows it
decodes to, must fit in the memory budget, the one the decoders check declared
counts against (VORNEX_MEMORY_BUDGET, 2 GiB by default); past it the read is
refused with a ShotDataError before the memory is taken.
"""
from __future__ import annotations

import os
from typing import Union

import numpy as np

from .shot_formats_text import decode_dets, decode_hits, encode_dets, encode_hits

FORMATS = ("01", "b8", "r8", "ptb64", "hits", "dets")

Source = Union[str, os.PathLike, bytes]


DEFAULT_MEMORY_BUDGET = 1 << 31
MEMORY_BUDGET_VARIABLE = "VORNEX_MEMORY_BUDGET"
_READ_CHUNK = 1 << 24
# What the command's help says of the bound.
BOUND_HELP = ("shot files are read whole; one larger than the memory budget, or decoding to more bits than it has "
              "bytes, is refused (VORNEX_MEMORY_BUDGET, bytes with an optional K/M/G/T suffix; default 2G)")


class ShotDataError(ValueError):
    """A shot data file that does not hold what its format and width promise, or that exceeds the memory budget."""


def memory_budget() -> int:
    """The bytes in VORNEX_MEMORY_BUDGET (a whole number, optionally followed by K, M, G or T for powers of
    1024) when it reads as one above zero, else 2 GiB; the decoders read the same setting."""
    text = os.environ.get(MEMORY_BUDGET_VARIABLE, "")
    power = "KMGT".find(text[-1:]) + 1 if text else 0
    digits = text[:-1] if power else text
    if digits.isascii() and digits.isdigit() and int(digits) > 0:
        return int(digits) << (10 * power)
    return DEFAULT_MEMORY_BUDGET


def _over_budget(what: str, size: int) -> ShotDataError:
    return ShotDataError(f"{what} {_byte_text(size)}, above the memory budget of {_byte_text(memory_budget())} "
                         f"(set {MEMORY_BUDGET_VARIABLE} to a number of bytes, optionally with a K, M, G or T "
                         "suffix, to raise it)")


def _byte_text(size: float) -> str:
    if size < 1024:
        return f"{int(size)} bytes"
    for unit in ("KiB", "MiB", "GiB", "TiB", "PiB", "EiB"):
        size /= 1024
        if size < 1024 or unit == "EiB":
            return f"{size:.1f} {unit}" if size < 10 else f"{size:.0f} {unit}"
    raise AssertionError("unreachable")


def read_bounded(file, name: str) -> bytes:
    """All bytes of an open binary file, refused past the memory budget without reading further (a device
    such as /dev/zero, or a pipe that never ends, stops there)."""
    limit = memory_budget()
    try:
        size = os.fstat(file.fileno()).st_size
    except (AttributeError, OSError, ValueError):
        size = 0
    if size > limit:
        raise _over_budget(f"shot data file {name!r} holds", size)
    chunks, total = [], 0
    while total <= limit:
        chunk = file.read(min(_READ_CHUNK, limit + 1 - total))
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)
        total += len(chunk)
    raise _over_budget(f"shot data file {name!r} holds more than", limit)


def _check_decoded(bits: int, fmt: str) -> None:
    """Refuses data that decodes to more bits than the memory budget holds bytes (one byte per bit)."""
    if bits > memory_budget():
        raise _over_budget(f"{fmt} data decodes to", bits)


def read_shot_data(source: Source, *, format: str, num_measurements: int = 0, num_detectors: int = 0,
                   num_observables: int = 0, bit_packed: bool = False, num_shots: int | None = None) -> np.ndarray:
    """Reads shots from a file path (or the raw bytes of a file).

    `num_shots` is needed only where the bytes cannot tell it: b8 and ptb64
    files of zero-width shots are empty whatever the number of shots.
    """
    fmt = _checked_format(format)
    width = _width(num_measurements, num_detectors, num_observables)
    data = source if isinstance(source, bytes) else _read_bytes(source)
    if fmt == "01":
        bits = _decode_01(data, width)
    elif fmt == "b8":
        return _finish_packed(_decode_b8(data, width, num_shots), width, bit_packed)
    elif fmt == "r8":
        bits = _decode_r8(data, width)
    elif fmt == "ptb64":
        bits = _decode_ptb64(data, width, num_shots)
    elif fmt == "hits":
        _check_decoded(data.count(b"\n") * width, fmt)
        bits = _as_error(decode_hits, data, width)
    else:
        _check_decoded(data.count(b"\n") * width, fmt)
        bits = _as_error(decode_dets, data, (num_measurements, num_detectors, num_observables))
    return np.packbits(bits, axis=1, bitorder="little") if bit_packed else bits


def write_shot_data(path: Union[str, os.PathLike], data: np.ndarray, *, format: str, num_measurements: int = 0,
                    num_detectors: int = 0, num_observables: int = 0, bit_packed: bool = False) -> None:
    """Writes shots to a file; `data` is 0/1 (uint8 or bool) or bit-packed when `bit_packed`."""
    with open(path, "wb") as out:
        out.write(encode_shot_data(data, format=format, num_measurements=num_measurements,
                                   num_detectors=num_detectors, num_observables=num_observables,
                                   bit_packed=bit_packed))


def encode_shot_data(data: np.ndarray, *, format: str, num_measurements: int = 0, num_detectors: int = 0,
                     num_observables: int = 0, bit_packed: bool = False) -> bytes:
    """The bytes of a shot data file holding `data`."""
    fmt = _checked_format(format)
    width = _width(num_measurements, num_detectors, num_observables)
    if fmt == "b8":
        return _packed_rows(data, width, bit_packed).tobytes()
    bits = _bit_rows(data, width, bit_packed)
    if fmt == "01":
        return _encode_01(bits)
    if fmt == "r8":
        return _encode_r8(bits)
    if fmt == "ptb64":
        return _encode_ptb64(bits)
    if fmt == "hits":
        return encode_hits(bits)
    return encode_dets(bits, (num_measurements, num_detectors, num_observables))


def _checked_format(fmt: str) -> str:
    if fmt not in FORMATS:
        raise ValueError(f"unknown shot data format {fmt!r}; expected one of {', '.join(FORMATS)}")
    return fmt


def _width(*counts: int) -> int:
    for count in counts:
        if isinstance(count, bool) or not isinstance(count, (int, np.integer)) or count < 0:
            raise ValueError(f"bit counts must be non-negative integers, got {count!r}")
    return int(sum(counts))


def _read_bytes(path: Union[str, os.PathLike]) -> bytes:
    try:
        with open(path, "rb") as f:
            return read_bounded(f, os.fspath(path))
    except OSError as e:
        raise ShotDataError(f"cannot read shot data file {os.fspath(path)!r}: {e.strerror}") from None


def _as_error(decode, data: bytes, layout):
    try:
        return decode(data, layout)
    except ValueError as e:
        raise ShotDataError(str(e)) from None


def _bit_rows(data: np.ndarray, width: int, bit_packed: bool) -> np.ndarray:
    """Validated 0/1 uint8 rows of `width` bits."""
    if bit_packed:
        packed = _packed_input(data, width)
        return np.unpackbits(packed, axis=1, count=width, bitorder="little")
    arr = np.asarray(data)
    if arr.ndim != 2 or arr.shape[1] != width:
        raise ValueError(f"shot data must have shape (shots, {width}), got {arr.shape}")
    if arr.dtype == np.bool_:
        return arr.view(np.uint8)
    if arr.dtype != np.uint8:
        raise ValueError(f"shot data must be uint8 or bool, got {arr.dtype}")
    if arr.size and arr.max() > 1:
        raise ValueError("shot data must hold only 0 and 1")
    return arr


def _packed_rows(data: np.ndarray, width: int, bit_packed: bool) -> np.ndarray:
    if bit_packed:
        packed = _packed_input(data, width)
        return _clear_padding(packed, width)
    return np.packbits(_bit_rows(data, width, False), axis=1, bitorder="little")


def _packed_input(data: np.ndarray, width: int) -> np.ndarray:
    arr = np.asarray(data)
    row_bytes = (width + 7) // 8
    if arr.ndim != 2 or arr.shape[1] != row_bytes or arr.dtype != np.uint8:
        raise ValueError(f"bit-packed shot data must be uint8 of shape (shots, {row_bytes}), "
                         f"got {arr.dtype} {arr.shape}")
    return arr


def _clear_padding(packed: np.ndarray, width: int) -> np.ndarray:
    """Copy with the bits past `width` in each row's last byte set to zero."""
    if width % 8 == 0:
        return packed
    cleared = packed.copy()
    cleared[:, -1] &= np.uint8((1 << (width % 8)) - 1)
    return cleared


def _finish_packed(packed: np.ndarray, width: int, bit_packed: bool) -> np.ndarray:
    if bit_packed:
        return _clear_padding(packed, width)
    _check_decoded(packed.shape[0] * width, "b8")
    return np.unpackbits(packed, axis=1, count=width, bitorder="little")


def _line_records(data: bytes, width: int, fmt: str) -> np.ndarray:
    """Bytes of fixed-length newline-terminated records as a (records, width) array."""
    if b"\r" in data:
        data = data.replace(b"\r\n", b"\n")
    record = width + 1
    raw = np.frombuffer(data, dtype=np.uint8)
    if raw.size % record:
        raise ShotDataError(f"{fmt} data ended in the middle of a shot: {raw.size} bytes is not a multiple "
                            f"of {record} ({width} bits and a newline per shot)")
    rows = raw.reshape(-1, record)
    bad_ends = np.flatnonzero(rows[:, width] != ord("\n"))
    if bad_ends.size:
        raise ShotDataError(f"{fmt} shot {int(bad_ends[0])} does not have {width} bits followed by a newline")
    return rows[:, :width]


def _decode_01(data: bytes, width: int) -> np.ndarray:
    chars = _line_records(data, width, "01")
    bits = chars - np.uint8(ord("0"))
    bad = np.argwhere(bits > 1)
    if bad.size:
        shot, bit = (int(v) for v in bad[0])
        raise ShotDataError(f"01 shot {shot} has {chr(chars[shot, bit])!r} at bit {bit}; expected '0' or '1'")
    return bits


def _encode_01(bits: np.ndarray) -> bytes:
    chars = np.empty((bits.shape[0], bits.shape[1] + 1), dtype=np.uint8)
    np.add(bits, np.uint8(ord("0")), out=chars[:, :-1])
    chars[:, -1] = ord("\n")
    return chars.tobytes()


def _whole_units(data: bytes, fmt: str, unit_bytes: int, unit: str, unit_suffix: str) -> np.ndarray | None:
    """The bytes of a binary format as whole units (shots or groups); None for zero-width shots."""
    raw = np.frombuffer(data, dtype=np.uint8)
    if unit_bytes == 0:
        if raw.size:
            raise ShotDataError(f"{fmt} data of zero-width shots must be empty, got {raw.size} bytes")
        return None
    if raw.size % unit_bytes:
        raise ShotDataError(f"{fmt} data ended in the middle of {unit}: {raw.size} bytes is not a multiple "
                            f"of {unit_bytes}{unit_suffix}")
    return raw


def _decode_b8(data: bytes, width: int, num_shots: int | None) -> np.ndarray:
    row_bytes = (width + 7) // 8
    raw = _whole_units(data, "b8", row_bytes, "a shot", " bytes per shot")
    if raw is None:
        return np.zeros((num_shots or 0, 0), dtype=np.uint8)
    return raw.reshape(-1, row_bytes)


def _decode_r8(data: bytes, width: int) -> np.ndarray:
    """Run lengths of zeros before each one, every shot followed by an implied one.

    The implied ones make the concatenated shots one bit stream, so all shots
    decode at once: each byte below 255 places a one after its run of zeros.
    """
    runs = np.frombuffer(data, dtype=np.uint8)
    if runs.size and runs[-1] == 255:
        raise ShotDataError("r8 data ended in the middle of a shot (last run length byte is 255)")
    steps = runs.astype(np.int64) + (runs != 255)
    ends = np.cumsum(steps)
    record = width + 1
    total = int(ends[-1]) if ends.size else 0
    _check_decoded(total, "r8")
    if total % record:
        raise ShotDataError(f"r8 data ended in the middle of a shot: it decodes to {total} bits, "
                            f"not a multiple of {record} ({width} bits and the implied one per shot)")
    stream = np.zeros(total, dtype=np.uint8)
    stream[ends[runs != 255] - 1] = 1
    rows = stream.reshape(-1, record)
    short = np.flatnonzero(rows[:, width] != 1)
    if short.size:
        raise ShotDataError(f"r8 shot {int(short[0])} does not end at bit {width} (runs cross the end of the shot)")
    return rows[:, :width]


def _encode_r8(bits: np.ndarray) -> bytes:
    stream = np.ones((bits.shape[0], bits.shape[1] + 1), dtype=np.uint8)
    stream[:, :-1] = bits
    ones = np.flatnonzero(stream.reshape(-1))
    gaps = np.diff(ones, prepend=-1) - 1
    full_bytes = gaps // 255
    lengths = full_bytes + 1
    out = np.full(int(lengths.sum()), 255, dtype=np.uint8)
    out[np.cumsum(lengths) - 1] = gaps % 255
    return out.tobytes()


def _decode_ptb64(data: bytes, width: int, num_shots: int | None) -> np.ndarray:
    """Groups of 64 shots; per group, each bit is a little-endian 64-bit word, bit k of shot k."""
    group_bytes = 8 * width
    raw = _whole_units(data, "ptb64", group_bytes, "a group of 64 shots", "")
    if raw is None:
        return np.zeros((num_shots or 0, 0), dtype=np.uint8)
    _check_decoded(raw.size * 8, "ptb64")
    words = raw.reshape(-1, width, 8)
    bits = np.unpackbits(words, axis=2, bitorder="little")
    return np.ascontiguousarray(bits.transpose(0, 2, 1)).reshape(-1, width)


def _encode_ptb64(bits: np.ndarray) -> bytes:
    shots, width = bits.shape
    if shots % 64:
        raise ValueError(f"ptb64 needs a multiple of 64 shots, got {shots}")
    groups = bits.reshape(shots // 64, 64, width).transpose(0, 2, 1)
    return np.packbits(groups, axis=2, bitorder="little").tobytes()
