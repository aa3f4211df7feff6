"""The binding layer's call forms on a test-only class (module
vornex_binding_probe, built with the native tests): keyword-only parameters,
class methods, the standard decode/batch/plain methods and borrowed
arguments."""
import inspect

import numpy as np
import pytest

probe = pytest.importorskip("vornex_binding_probe")
Mirror = probe.Mirror


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return type(info.value), str(info.value), getattr(info.value, "__notes__", [])


def test_keyword_only_parameters_bind_by_name_only():
    m = Mirror(3)
    syndrome = np.array([1, 0, 1], dtype=np.uint8)
    assert m.decode(syndrome, invert=False).tolist() == [1, 0, 1]
    assert m.decode(syndrome, invert=True).tolist() == [0, 1, 0]
    assert m.decode(invert=True, syndrome=syndrome).tolist() == [0, 1, 0]
    assert raised(lambda: m.decode(syndrome, True))[:2] == (
        TypeError, "decode() takes 1 positional argument but 2 were given")
    assert raised(lambda: m.decode(syndrome))[:2] == (
        TypeError, "decode() missing required keyword-only argument 'invert'")
    assert m.scaled(3, scale=4) == 12
    assert m.scaled(3) == 6  # an omitted argument takes the default of the text signature
    assert inspect.signature(Mirror.scaled).parameters["scale"].default == 2
    parameters = inspect.signature(Mirror.decode).parameters
    assert [(p.name, p.kind) for p in parameters.values()][1:] == [
        ("syndrome", inspect.Parameter.POSITIONAL_OR_KEYWORD),
        ("invert", inspect.Parameter.KEYWORD_ONLY)]


def test_class_method_returns_a_new_object_of_the_class():
    base = Mirror(3)
    built = Mirror.doubled(base)
    assert type(built) is Mirror and built.n_checks == 6 and base.n_checks == 3
    assert Mirror.doubled(base, extra=1).n_checks == 7
    assert base.doubled(base).n_checks == 6  # also reachable through an instance
    assert raised(lambda: Mirror.doubled(base, 1))[:2] == (
        TypeError, "doubled() takes 1 positional argument but 2 were given")
    assert raised(lambda: Mirror.doubled(3)) == (
        TypeError, "argument 'other': expected Mirror, got int", [])
    assert inspect.signature(Mirror.doubled).parameters["extra"].kind == inspect.Parameter.KEYWORD_ONLY


def test_standard_methods_check_in_the_family_order():
    m = Mirror(2)
    bad_layout = np.zeros(4, dtype=np.uint8)[::2]
    assert raised(lambda: m.decode(bad_layout, invert=False))[:2] == (
        ValueError, "Bad syndrome: The given array is not contiguous or is misaligned.")
    # The length check comes from the native object, after the layout.
    assert raised(lambda: m.decode(np.zeros(3, np.uint8), invert=False))[:2] == (ValueError, "length 3")
    assert raised(lambda: m.decode(np.zeros((1, 2), np.uint8), invert=False))[0] is TypeError
    rows = np.arange(8, dtype=np.uint8).reshape(4, 2)
    out = m.batch_decode(rows)
    assert out.shape == (4, 2) and out.tolist() == rows.tolist()
    assert m.batch_decode(np.asfortranarray(rows)).tolist() == rows.tolist()
    assert raised(lambda: m.batch_decode(np.zeros((2, 3), np.uint8)))[:2] == (
        ValueError, "Expected shape (batch, 2), got [2, 3]")
    assert raised(lambda: m.batch_decode(np.zeros((2, 4), np.uint8)[:, ::2]))[:2] == (
        ValueError, "Bad syndromes: The given array is not contiguous or is misaligned.")
    # A native error result becomes its exception.
    assert raised(lambda: m.batch_decode(np.zeros((3, 2), np.uint8)))[:2] == (RuntimeError, "three shots refused")
    # A binding naming fewer parameters than its native operation is refused
    # at the call, never read past its arguments.
    assert raised(lambda: m.offset(1))[:2] == (
        RuntimeError, "native operation takes more parameters than its text signature names")
    assert raised(lambda: m.scaled("x", scale=1)) == (
        TypeError, "'str' object cannot be interpreted as an integer", ["while processing 'value'"])


def test_borrowed_arguments_name_the_parameter():
    m = Mirror(4)
    assert m.same_size(Mirror(4)) and not m.same_size(Mirror(5))
    assert m.same_size(m)  # two shared borrows of one object
    assert raised(lambda: m.same_size("x")) == (TypeError, "argument 'other': expected Mirror, got str", [])
    assert m.all_same_size([Mirror(4), m]) and not m.all_same_size((Mirror(4), Mirror(1)))
    assert raised(lambda: m.all_same_size([Mirror(4), 1])) == (
        TypeError, "argument 'others': expected Mirror, got int", ["while processing 'others'"])
