"""Decoders a sweep can use: this library's families, sinter's built-in decoders and custom ones, by name."""
from __future__ import annotations

import importlib
from collections.abc import Iterable, Mapping

import sinter

# A tiny model every decoder can be compiled for, to find decoders whose package is missing before a sweep starts.
_PROBE_MODEL = "error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1"


def available_decoders(custom: Mapping[str, sinter.Decoder] | None = None) -> dict[str, sinter.Decoder]:
    """Name -> sinter decoder: sinter's built-in ones, then `vornex_<family>`, then `custom` (which wins)."""
    from .. import sinter_decoders
    decoders = dict(sinter.BUILT_IN_DECODERS)
    decoders.update(sinter_decoders())
    decoders.update(custom or {})
    return decoders


def resolve_decoders(names: Iterable[str], custom: Mapping[str, sinter.Decoder] | None = None
                     ) -> dict[str, sinter.Decoder]:
    """The named decoders, each checked to be usable here; ValueError names what is unknown or missing."""
    available = available_decoders(custom)
    chosen = {}
    for name in names:
        if name not in available:
            raise ValueError(f"unknown decoder {name!r}; available: {', '.join(sorted(available))}")
        _require_usable(name, available[name])
        chosen[name] = available[name]
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
