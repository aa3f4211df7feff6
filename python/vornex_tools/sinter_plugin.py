"""Decoders of this library for sinter's `custom_decoders`.

sinter hands each worker process a pickled `VornexSinterDecoder` (a family
name and keyword arguments only), which compiles one native decoder per
detector error model and then predicts observables from bit-packed
detection events without unpacking them in Python.

`sinter_decoders()` lists `vornex_<family>` for every family and also answers
to any other name of a family and to names with options,
`vornex_bposd:osd_order=7`, when sinter looks them up.
"""
from __future__ import annotations

import numpy as np
import sinter

from .families import SINTER_PREFIX, family_table, find_family, parse_decoder_spec

PREFIX = SINTER_PREFIX


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
        family = find_family(self.family)
        try:
            decoder = family.build(dem, **self.family_kwargs)
        except ValueError as e:
            # Raised in a worker, where sinter shows it at the end of its own
            # report: say which decoder refused which model.
            raise ValueError(f"{PREFIX}{family.name} cannot decode this task's detector error model: {e}") from None
        return VornexCompiledDecoder(decoder, dem.num_detectors, dem.num_observables)

    def __repr__(self) -> str:
        kwargs = "".join(f", {k}={v!r}" for k, v in self.family_kwargs.items())
        return f"VornexSinterDecoder({self.family!r}{kwargs})"


class VornexDecoders(dict):
    """`vornex_<family>` -> decoder for every family. Any other name of a family (`vornex_union_find`) and names
    with options (`vornex_bposd:osd_order=7`) are made when sinter looks them up; options the family refuses
    raise its ValueError then."""

    def __missing__(self, name):
        if not self._ours(name):
            raise KeyError(name)
        spec = parse_decoder_spec(name)
        return VornexSinterDecoder(spec.family.name, **spec.options)

    def __contains__(self, name) -> bool:
        return dict.__contains__(self, name) or self._ours(name)

    def get(self, name, default=None):
        return self[name] if name in self else default

    @staticmethod
    def _ours(name) -> bool:
        if not isinstance(name, str) or not name.startswith(PREFIX):
            return False
        try:
            find_family(name.partition(":")[0])
        except ValueError:
            return False
        return True


def sinter_decoders() -> dict[str, sinter.Decoder]:
    """`vornex_<family>` -> decoder, for every family in this build of the module."""
    return VornexDecoders({family.sinter_name: VornexSinterDecoder(family.name) for family in family_table()})
