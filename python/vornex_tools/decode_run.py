"""Reading a detector error model and detection events, and predicting observables chunk by chunk."""
from __future__ import annotations

import sys
from dataclasses import dataclass

import numpy as np
import vornex_decoder_v3 as vx

from .families import build_decoder
from .progress import Progress
from .shot_data import encode_shot_data, read_bounded, read_shot_data

# Shots handed to the native batch call at a time: large enough to keep the
# worker pool busy, small enough for steady progress and bounded temporaries.
CHUNK_SHOTS = 1 << 16


@dataclass
class Events:
    """Detection events, bit-packed, and the observable flips that came appended to them (or None)."""
    packed_detectors: np.ndarray
    observables: np.ndarray | None


def load_model(path: str):
    try:
        return vx.DetectorErrorModel.from_file(path)
    except OSError as e:
        raise ValueError(f"cannot read detector error model {path!r}: {e.strerror or e}") from None


def read_input(path: str) -> bytes:
    """The bytes of a file, or of standard input for '-', refused past the memory budget."""
    if path == "-":
        return read_bounded(sys.stdin.buffer, "<standard input>")
    try:
        with open(path, "rb") as f:
            return read_bounded(f, path)
    except OSError as e:
        raise ValueError(f"cannot read {path!r}: {e.strerror}") from None


def write_output(path: str, data: bytes) -> None:
    """Writes bytes to a file, or to standard output for '-'."""
    if path == "-":
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
        return
    try:
        with open(path, "wb") as f:
            f.write(data)
    except OSError as e:
        raise ValueError(f"cannot write {path!r}: {e.strerror}") from None


def read_events(path: str, fmt: str, model, *, appended_observables: bool) -> Events:
    data = read_input(path)
    num_observables = model.num_observables if appended_observables else 0
    if not appended_observables:
        return Events(read_shot_data(data, format=fmt, num_detectors=model.num_detectors, bit_packed=True), None)
    bits = read_shot_data(data, format=fmt, num_detectors=model.num_detectors, num_observables=num_observables)
    detectors, observables = np.split(bits, [model.num_detectors], axis=1)
    return Events(np.packbits(detectors, axis=1, bitorder="little"), observables)


def read_observables(path: str, fmt: str, num_observables: int) -> np.ndarray:
    return read_shot_data(read_input(path), format=fmt, num_observables=num_observables)


def encode_observables(predictions: np.ndarray, fmt: str, num_observables: int) -> bytes:
    return encode_shot_data(predictions, format=fmt, num_observables=num_observables)


def predict(model, family: str, packed_detectors: np.ndarray, *, label: str) -> np.ndarray:
    """Observable predictions (shots, num_observables) uint8 0/1, decoded in chunks with progress."""
    shots = packed_detectors.shape[0]
    if model.num_observables == 0:
        return np.zeros((shots, 0), dtype=np.uint8)
    decoder = build_decoder(family, model)
    packed = np.empty((shots, (model.num_observables + 7) // 8), dtype=np.uint8)
    progress = Progress(label, shots)
    for start in range(0, shots, CHUNK_SHOTS):
        stop = min(start + CHUNK_SHOTS, shots)
        packed[start:stop] = decoder.predict_observables_batch(packed_detectors[start:stop], bit_packed=True)
        progress.update(stop)
    progress.finish()
    return np.unpackbits(packed, axis=1, count=model.num_observables, bitorder="little")
