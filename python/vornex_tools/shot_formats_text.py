"""The two line-per-shot formats that list the ones of a shot: hits and dets.

hits: the indices of the ones, comma separated (`2,4,5`).
dets: `shot` followed by the ones as tokens prefixed by their kind,
      `M` measurement, `D` detector, `L` observable (`shot D2 D4 L0`).
These are read line by line: their length varies with the number of ones,
which is small in the sparse data they are meant for.
"""
from __future__ import annotations

import numpy as np

_KINDS = (b"M", b"D", b"L")


def _lines(data: bytes, fmt: str) -> list[bytes]:
    if not data:
        return []
    if not data.endswith(b"\n"):
        raise ValueError(f"{fmt} data ended in the middle of a shot (no newline at the end)")
    return data.replace(b"\r\n", b"\n")[:-1].split(b"\n")


def _index(token: bytes, limit: int, fmt: str, shot: int) -> int:
    if not token.isdigit():
        raise ValueError(f"{fmt} shot {shot}: {token.decode(errors='replace')!r} is not a bit index")
    value = int(token)
    if value >= limit:
        raise ValueError(f"{fmt} shot {shot}: index {value} is out of range (shots have {limit} such bits)")
    return value


def decode_hits(data: bytes, width: int) -> np.ndarray:
    lines = _lines(data, "hits")
    bits = np.zeros((len(lines), width), dtype=np.uint8)
    for shot, line in enumerate(lines):
        if line:
            bits[shot, [_index(t.strip(), width, "hits", shot) for t in line.split(b",")]] = 1
    return bits


def decode_dets(data: bytes, counts: tuple[int, int, int]) -> np.ndarray:
    offsets = (0, counts[0], counts[0] + counts[1])
    lines = _lines(data, "dets")
    bits = np.zeros((len(lines), sum(counts)), dtype=np.uint8)
    for shot, line in enumerate(lines):
        tokens = line.split()
        if not tokens or tokens[0] != b"shot":
            raise ValueError(f"dets shot {shot} does not start with 'shot'")
        for token in tokens[1:]:
            kind = _KINDS.index(token[:1]) if token[:1] in _KINDS else -1
            if kind < 0:
                raise ValueError(f"dets shot {shot}: {token.decode(errors='replace')!r} does not start with M, D or L")
            bits[shot, offsets[kind] + _index(token[1:], counts[kind], "dets", shot)] = 1
    return bits


def _ones_per_shot(bits: np.ndarray) -> list[np.ndarray]:
    if bits.shape[0] == 0:
        return []
    shots, columns = np.nonzero(bits)
    return np.split(columns, np.searchsorted(shots, np.arange(1, bits.shape[0])))


def encode_hits(bits: np.ndarray) -> bytes:
    return "".join(",".join(map(str, ones.tolist())) + "\n" for ones in _ones_per_shot(bits)).encode()


def encode_dets(bits: np.ndarray, counts: tuple[int, int, int]) -> bytes:
    names = [f" {kind.decode()}{i}" for kind, count in zip(_KINDS, counts) for i in range(count)]
    return "".join("shot" + "".join(names[c] for c in ones.tolist()) + "\n"
                   for ones in _ones_per_shot(bits)).encode()
