"""The decoder families that build from a detector error model, by the names the module's table gives them.

The table is the module's `decoder_families()`: one row per family with its
name (used by the package, the `vornex` command, the tool server and, after a
`vornex_` prefix, sinter), the older names it still answers to, and whether it
accepts hyperedges and is exact. A decoder is chosen by a spec: a family name
with optional keyword options of its `from_detector_error_model`, in the
syntax shared by the command line, sinter and sweeps:

    bposd:osd_order=7,max_iter=30

Option values are read as numbers, true/false/none or text (always text
where the keyword's default is text); an option the family does not take, or
a value it refuses, is refused with the family's own error text.
"""
from __future__ import annotations

import dataclasses
import functools
import inspect
from dataclasses import dataclass

import vornex_decoder_v3 as vx

SINTER_PREFIX = "vornex_"
DEFAULT_FAMILY = "matching"
# A model every family builds from: the options of a spec are tried on it before any real model is read.
PROBE_MODEL = "error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1\ndetector(0, 0) D0\ndetector(0, 1) D1"


@dataclass(frozen=True)
class Family:
    """One row of the family table."""
    name: str
    class_name: str
    aliases: tuple[str, ...]
    hyperedges: bool  # decodes errors that flip more than two detectors
    exact: bool       # returns a most likely error for every model it accepts
    summary: str
    preset: tuple = ()  # (keyword, value) options its class is always built with

    def build(self, model, **options):
        """A decoder of this family built from `model`, with `options` on top of its preset."""
        return self.cls.from_detector_error_model(model, **{**dict(self.preset), **options})

    @property
    def cls(self) -> type:
        return getattr(vx, self.class_name)

    @property
    def sinter_name(self) -> str:
        return SINTER_PREFIX + self.name


@dataclass(frozen=True)
class DecoderSpec:
    """A family and the keyword options its decoders are built with."""
    family: Family
    options: dict

    def text(self, prefix: str = "") -> str:
        """The decoder choice written back in its one spelling: the family's name, then its options as given."""
        options = ",".join(f"{k}={_option_text(v)}" for k, v in self.options.items())
        return prefix + self.family.name + (":" + options if options else "")

    def build(self, model):
        return self.family.build(model, **self.options)


@functools.cache
def family_table() -> tuple[Family, ...]:
    """Every family of this build of the module, default first."""
    families = []
    for row in vx.decoder_families():
        if not hasattr(vx, row["class_name"]):
            continue
        family = Family(row["name"], row["class_name"], tuple(row["aliases"]), row["hyperedges"], row["exact"],
                        row["summary"])
        if row.get("options"):
            preset = _parse_options(family, row["options"], row["name"] + ":" + row["options"])
            family = dataclasses.replace(family, preset=tuple(preset.items()))
        families.append(family)
    return tuple(families)


def available_families() -> dict[str, str]:
    """Family name -> class name in the module, for every family buildable from a detector error model."""
    return {family.name: family.class_name for family in family_table()}


def find_family(name: str) -> Family:
    """The family called `name` (its name or an older one, with or without sinter's `vornex_` prefix)."""
    bare = name.removeprefix(SINTER_PREFIX)
    for family in family_table():
        if bare == family.name or bare in family.aliases:
            return family
    names = ", ".join(family.name for family in family_table()) or "none"
    raise ValueError(f"unknown decoder family {name!r}; available: {names}")


def hyperedge_families() -> list[str]:
    """Names of the families that decode errors flipping more than two detectors."""
    return [family.name for family in family_table() if family.hyperedges]


def parse_decoder_spec(spec: str, *, check: bool = True) -> DecoderSpec:
    """The family and options of "family[:key=value,...]".

    With `check`, the options are tried by building the family on a tiny
    model, so that a misspelt option fails here, with the family's own
    message, rather than on the first real model.
    """
    name, colon, text = spec.partition(":")
    family = find_family(name.strip())
    decoder = DecoderSpec(family, _parse_options(family, text, spec) if colon else {})
    if check and decoder.options:
        try:
            decoder.build(PROBE_MODEL)
        except (TypeError, ValueError, OverflowError) as e:
            raise ValueError(f"decoder {spec!r}: {e}") from None
    return decoder


def build_decoder(family: str, model, **kwargs):
    """A decoder of the named family, or of a spec such as "bposd:osd_order=7", built from `model` (anything
    `from_detector_error_model` takes), with `kwargs` as further options."""
    spec = parse_decoder_spec(family, check=False)
    return DecoderSpec(spec.family, {**spec.options, **kwargs}).build(model)


def _keyword_defaults(family: Family) -> dict:
    try:
        parameters = inspect.signature(family.cls.from_detector_error_model).parameters
    except (TypeError, ValueError):
        return {}
    return {p.name: p.default for p in parameters.values() if p.kind is inspect.Parameter.KEYWORD_ONLY}


def _parse_options(family: Family, text: str, spec: str) -> dict:
    options = {}
    defaults = _keyword_defaults(family)
    for item in text.split(","):
        key, equals, value = item.partition("=")
        key, value = key.strip(), value.strip()
        if not key or not equals:
            raise ValueError(f"decoder {spec!r}: options are key=value pairs separated by commas, got {item!r}")
        if key in options:
            raise ValueError(f"decoder {spec!r}: option {key} given twice")
        options[key] = _option_value(value, defaults.get(key, inspect.Parameter.empty))
    return options


def _option_value(text: str, default):
    """An option's value: text where the keyword's default is text, else a number, a truth value or text."""
    if isinstance(default, str):
        return text
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return {"true": True, "false": False, "none": None}.get(text.lower(), text)


def _option_text(value) -> str:
    return str(value).lower() if isinstance(value, bool) or value is None else str(value)
