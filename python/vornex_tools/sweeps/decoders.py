"""Decoders a sweep can use: this library's families, sinter's built-in decoders and custom ones, by name.

This library's families go by any of their names, with or without sinter's
`vornex_` prefix and with options (`bposd:osd_order=7`); a sweep records them
under one spelling, `vornex_<family>[:options]`, so that the same decoder
always resumes the same rows of a results file.
"""
from __future__ import annotations

import importlib
from collections.abc import Iterable, Mapping

import sinter

from ..families import PROBE_MODEL as _PROBE_MODEL
from ..families import SINTER_PREFIX, find_family, parse_decoder_spec


def available_decoders(custom: Mapping[str, sinter.Decoder] | None = None) -> dict[str, sinter.Decoder]:
    """Name -> sinter decoder: sinter's built-in ones, then `vornex_<family>`, then `custom` (which wins)."""
    from .. import sinter_decoders
    decoders = dict(sinter.BUILT_IN_DECODERS)
    decoders.update(sinter_decoders())
    decoders.update(custom or {})
    return decoders


def decoder_name(name: str, custom: Mapping[str, sinter.Decoder] | None = None) -> str:
    """The name a sweep records for `name`: `vornex_<family>[:options]` for this library's families (options
    refused by the family raise its ValueError), any other name as it is."""
    if (custom and name in custom) or name in sinter.BUILT_IN_DECODERS:
        return name
    try:
        find_family(name.partition(":")[0].strip())
    except ValueError:
        return name
    return parse_decoder_spec(name).text(SINTER_PREFIX)


def resolve_decoders(names: Iterable[str], custom: Mapping[str, sinter.Decoder] | None = None
                     ) -> dict[str, sinter.Decoder]:
    """The named decoders (names as decoder_name gives them), each checked to be usable here; ValueError names
    what is unknown or missing."""
    from .. import sinter_decoders
    ours = sinter_decoders()
    available = available_decoders(custom)
    chosen = {}
    for name in names:
        decoder = available.get(name) or (ours[name] if name in ours else None)
        if decoder is None:
            raise ValueError(f"unknown decoder {name!r}; available: {', '.join(sorted(available))}")
        _require_usable(name, decoder)
        chosen[name] = decoder
    if not chosen:
        raise ValueError("no decoder given")
    return chosen


def load_custom_decoders(spec: str) -> dict[str, sinter.Decoder]:
    """Decoders from "module:function", a function returning {name: sinter.Decoder}, as sinter's command takes."""
    module_name, _, function_name = spec.partition(":")
    if not module_name or not function_name:
        raise ValueError(f"custom decoders {spec!r}: expected MODULE:FUNCTION")
    try:
        decoders = getattr(importlib.import_module(module_name), function_name)()
    except (ImportError, AttributeError) as e:
        raise ValueError(f"custom decoders {spec!r}: {e}") from None
    if not isinstance(decoders, Mapping) or not all(isinstance(k, str) for k in decoders):
        raise ValueError(f"custom decoders {spec!r}: the function must return a dict from names to sinter decoders")
    return dict(decoders)


def _require_usable(name: str, decoder: sinter.Decoder) -> None:
    import stim
    try:
        decoder.compile_decoder_for_dem(dem=stim.DetectorErrorModel(_PROBE_MODEL))
    except ImportError as e:
        raise ValueError(f"decoder {name!r} is not usable here: {e}") from None
    except Exception:  # noqa: BLE001 - decoding through files only, or refusing this model, is found out later
        pass
