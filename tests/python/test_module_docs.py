"""Every public name of the module explains itself, and every object prints
as its class and sizes."""
import re

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from test_module_surface import INSTANCES


def public_classes():
    return {name: item for name, item in vars(vx).items()
            if isinstance(item, type) and not name.startswith("_") and not issubclass(item, BaseException)}


def description(item):
    """The docstring after the text signature ("" when there is none)."""
    text = item.__doc__ or ""
    return text.split("\n--\n\n", 1)[-1].strip() if "\n--\n\n" in text else text.strip()


def test_every_class_method_property_and_function_has_a_docstring():
    missing = []
    for name, cls in public_classes().items():
        if not description(cls):
            missing.append(name)
        for attribute, raw in vars(cls).items():
            if attribute.startswith("__"):
                continue
            documented = raw if type(raw).__name__ == "getset_descriptor" else getattr(cls, attribute)
            if not description(documented):
                missing.append(f"{name}.{attribute}")
    for name, item in vars(vx).items():
        if callable(item) and not isinstance(item, type) and not description(item):
            missing.append(name)
    assert missing == []


def test_repr_names_the_class_and_its_sizes():
    assert repr(vx.UnionFindDecoder([[0, 1], [1, 2], [2, 3], [3, 4]], 5)) == "UnionFindDecoder(n_qubits=5, n_checks=4)"
    assert repr(vx.RotatedSurfaceCode(3)) == "RotatedSurfaceCode(distance=3, n_qubits=9)"


@pytest.mark.parametrize("name", sorted(INSTANCES))
def test_repr_shows_every_integer_attribute_with_its_value(name):
    try:
        instance = INSTANCES[name]()
    except RuntimeError:
        pytest.skip("no device here")
    text = repr(instance)
    match = re.fullmatch(rf"{name}\((.*)\)", text)
    assert match, text
    shown = dict(item.split("=") for item in match.group(1).split(", ")) if match.group(1) else {}
    sizes = {attribute for attribute, raw in vars(type(instance)).items()
             if type(raw).__name__ == "getset_descriptor"
             and type(getattr(instance, attribute)) is int}
    assert set(shown) == sizes
    for attribute, value in shown.items():
        assert int(value) == getattr(instance, attribute)


def test_repr_while_the_object_is_busy_falls_back_to_the_default_form():
    # build_table holds the decoder exclusively while it calls progress back:
    # printing the decoder there cannot read its sizes, and must not raise.
    decoder = vx.LookupTableDecoder([[0, 1], [1, 2], [2, 3], [3, 4]], 5)
    seen = []
    decoder.build_table(100, progress=lambda done, total: seen.append(repr(decoder)))
    assert seen and all(re.fullmatch(r"<vornex_decoder_v3\.LookupTableDecoder object at 0x[0-9a-f]+>", s) for s in seen)
    assert repr(decoder).startswith("LookupTableDecoder(n_qubits=5, n_checks=4, table_size=")
