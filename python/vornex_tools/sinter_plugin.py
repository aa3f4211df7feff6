"""Decoders of this library for sinter's `custom_decoders`.

sinter hands each worker process a pickled `VornexSinterDecoder` (a family
name and keyword arguments only), which compiles one native decoder per
detector error model and then predicts observables from bit-packed
detection events without unpacking them in Python.
"""
from __future__ import annotations

import numpy as np
import sinter

from .families import available_families, build_decoder

PREFIX = "vornex_"


class VornexCompiledDecoder(sinter.CompiledDecoder):
    """A native decoder built for one detector error model."""

    def __init__(self, decoder, num_detectors: int, num_observables: int):
        self.decoder = decoder
        self.num_detectors = num_detectors
        self.num_observables = num_observables

    def decode_shots_bit_packed(self, *, bit_packed_detection_event_data: np.ndarray) -> np.ndarray:
        shots = bit_packed_detection_event_data
        if self.num_observables == 0:
            return np.zeros((shots.shape[0], 0), dtype=np.uint8)
        return self.decoder.predict_observables_batch(np.ascontiguousarray(shots), bit_packed=True)


class VornexSinterDecoder(sinter.Decoder):
    """One decoder family of this library, with the keyword arguments its models are built with."""

    def __init__(self, family: str, **family_kwargs):
        self.family = family
        self.family_kwargs = family_kwargs

    def compile_decoder_for_dem(self, *, dem) -> VornexCompiledDecoder:
        decoder = build_decoder(self.family, dem, **self.family_kwargs)
        return VornexCompiledDecoder(decoder, dem.num_detectors, dem.num_observables)

    def __repr__(self) -> str:
        kwargs = "".join(f", {k}={v!r}" for k, v in self.family_kwargs.items())
        return f"VornexSinterDecoder({self.family!r}{kwargs})"


def sinter_decoders() -> dict[str, sinter.Decoder]:
    """`vornex_<family>` -> decoder, for every family in this build of the module."""
    return {PREFIX + family: VornexSinterDecoder(family) for family in available_families()}
