"""What a worker does with one batch: sample shots of a circuit, decode them, count the mistakes.

This module runs on the workers. It knows nothing of Dask, so that a batch can
be run and checked in-process. A batch is a pure function of its payload, shot
count and seed: when a lost worker's batch is run again elsewhere it gives the
same counts, and the driver counts whichever copy reaches it first, once.
"""
from __future__ import annotations

import collections
import contextlib
import pathlib
import signal
import tempfile
import threading
import time
from dataclasses import dataclass

import numpy as np

# Bytes of detection events sampled at once within a batch, so that a batch
# sized for seconds of a fast decoder on a big circuit stays within memory.
SAMPLE_CHUNK_BYTES = 1 << 25
# Tasks whose compiled decoders a worker thread keeps; a sweep works on a few
# tasks at a time, so older ones are dropped rather than kept for ever.
COMPILED_TASKS_KEPT = 8


@dataclass(frozen=True)
class TaskPayload:
    """Everything a worker needs to run batches of one task; sent to each worker once."""
    strong_id: str
    circuit_text: str
    dem_text: str
    decoder_name: str
    decoder: object  # a sinter.Decoder


@dataclass(frozen=True)
class BatchResult:
    shots: int
    errors: int
    seconds: float  # sampling and decoding time on the worker, without the one-off compilation


class CompiledTask:
    """A task's circuit and its decoder compiled for the task's detector error model."""

    def __init__(self, payload: TaskPayload):
        import stim
        self.circuit = stim.Circuit(payload.circuit_text)
        dem = stim.DetectorErrorModel(payload.dem_text)
        self.num_detectors = dem.num_detectors
        self.num_observables = dem.num_observables
        self.decoder = _compile_decoder(payload.decoder, dem)
        # Bits of the last packed observable byte that hold observables; the rest is padding.
        self.last_byte_mask = np.uint8((1 << (self.num_observables % 8 or 8)) - 1)

    def run(self, shots: int, seed: int) -> BatchResult:
        start = time.perf_counter()
        sampler = self.circuit.compile_detector_sampler(seed=seed)
        chunk = max(1, SAMPLE_CHUNK_BYTES // max(1, (self.num_detectors + 7) // 8))
        errors = 0
        for done in range(0, shots, chunk):
            events, actual = sampler.sample(min(chunk, shots - done), separate_observables=True, bit_packed=True)
            errors += self.count_errors(events, actual)
        return BatchResult(shots, errors, time.perf_counter() - start)

    def count_errors(self, events: np.ndarray, actual: np.ndarray) -> int:
        if self.num_observables == 0:
            return 0
        predicted = np.asarray(self.decoder.decode_shots_bit_packed(bit_packed_detection_event_data=events))
        if predicted.shape != actual.shape:
            raise ValueError(f"decoder returned predictions of shape {list(predicted.shape)} "
                             f"for observables of shape {list(actual.shape)}")
        wrong = predicted ^ actual
        wrong[:, -1] &= self.last_byte_mask
        return int(np.count_nonzero(np.any(wrong, axis=1)))


class FileDecoder:
    """A sinter decoder that only decodes through files, run in a scratch folder per call."""

    def __init__(self, decoder, dem):
        self.decoder = decoder
        self.dem = dem

    def decode_shots_bit_packed(self, *, bit_packed_detection_event_data: np.ndarray) -> np.ndarray:
        events = bit_packed_detection_event_data
        width = (self.dem.num_observables + 7) // 8
        with tempfile.TemporaryDirectory(prefix="vornex-sweep-") as folder:
            folder = pathlib.Path(folder)
            self.dem.to_file(folder / "model.dem")
            (folder / "dets.b8").write_bytes(np.ascontiguousarray(events).tobytes())
            scratch = folder / "tmp"
            scratch.mkdir()
            self.decoder.decode_via_files(
                num_shots=events.shape[0], num_dets=self.dem.num_detectors, num_obs=self.dem.num_observables,
                dem_path=folder / "model.dem", dets_b8_in_path=folder / "dets.b8",
                obs_predictions_b8_out_path=folder / "obs.b8", tmp_dir=scratch)
            predicted = np.frombuffer((folder / "obs.b8").read_bytes(), dtype=np.uint8)
        if predicted.size != events.shape[0] * width:
            raise ValueError(f"decoder wrote {predicted.size} bytes of predictions for {events.shape[0]} shots "
                             f"of {width} bytes")
        return predicted.reshape(events.shape[0], width)


def _compile_decoder(decoder, dem):
    try:
        return decoder.compile_decoder_for_dem(dem=dem)
    except NotImplementedError:
        return FileDecoder(decoder, dem)


# Compiled tasks of the current thread, most recently used last. Per thread
# because neither stim's samplers nor every peer decoder may be shared between
# threads; the embedded cluster runs one thread per worker, so there it is once
# per worker.
_local = threading.local()


def compiled_task(payload: TaskPayload) -> CompiledTask:
    cache = getattr(_local, "tasks", None)
    if cache is None:
        cache = _local.tasks = collections.OrderedDict()
    task = cache.get(payload.strong_id)
    if task is None:
        task = cache[payload.strong_id] = CompiledTask(payload)
        while len(cache) > COMPILED_TASKS_KEPT:
            cache.popitem(last=False)
    cache.move_to_end(payload.strong_id)
    return task


def run_batch(payload: TaskPayload, shots: int, seed: int) -> BatchResult:
    """Samples and decodes `shots` shots of the payload's task with the given seed."""
    return compiled_task(payload).run(shots, seed)


def dask_setup(worker) -> None:
    """Run by each worker of an embedded cluster as it starts (a Dask preload): Ctrl-C is ignored here, since the
    driver that was interrupted ends the workers itself, at once, and a worker stopped mid-batch by the same
    signal would only print its traceback."""
    with contextlib.suppress(ValueError):  # only the main thread may set handlers
        signal.signal(signal.SIGINT, signal.SIG_IGN)


def forward_payload(payload: TaskPayload) -> TaskPayload:
    """Identity, run as a cluster task so that a payload lost with its worker is rebuilt from the scheduler's copy."""
    return payload
