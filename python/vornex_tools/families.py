"""The decoder families that can be built from a detector error model, found at run time.

A family qualifies when the module has a class with a
`from_detector_error_model` class method. Known families get short names;
any other qualifying class is offered under its class name in snake case
without the `_decoder` suffix, so families added to the module later show up
here without a change.
"""
from __future__ import annotations

import re

import vornex_decoder_v3 as vx

# Short names for the families this package knows, in the order they are listed.
SHORT_NAMES = {
    "UnionFindDecoder": "uf",
    "WeightedUnionFindDecoder": "weighted_uf",
    "BlossomDecoder": "blossom",
    "MatchingDecoder": "matching",
    "BPOSDDecoder": "bposd",
    "BeliefMatchingDecoder": "belief_matching",
    "LookupTableDecoder": "lookup",
}


def _default_name(class_name: str) -> str:
    snake = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", class_name).lower()
    return snake.removesuffix("_decoder")


def available_families() -> dict[str, str]:
    """Family name -> class name in the module, for every family buildable from a detector error model."""
    found = [name for name in dir(vx)
             if isinstance(getattr(vx, name), type) and hasattr(getattr(vx, name), "from_detector_error_model")]
    known = [name for name in SHORT_NAMES if name in found]
    others = sorted(name for name in found if name not in SHORT_NAMES)
    return {SHORT_NAMES.get(name) or _default_name(name): name for name in known + others}


def build_decoder(family: str, model, **kwargs):
    """A decoder of the named family built from `model` (anything `from_detector_error_model` takes)."""
    families = available_families()
    if family not in families:
        raise ValueError(f"unknown decoder family {family!r}; available: {', '.join(families) or 'none'}")
    return getattr(vx, families[family]).from_detector_error_model(model, **kwargs)
