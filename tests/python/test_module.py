"""The module frame: version, exception type, registry, text signatures."""
import inspect
import sys

import pytest

import vornex_decoder_v3 as vx


def test_version_and_docstring():
    assert vx.__version__ == "0.6.6"
    assert isinstance(vx.__doc__, str) and vx.__doc__


def test_panic_exception_is_not_an_exception():
    assert issubclass(vx.PanicException, BaseException)
    assert not issubclass(vx.PanicException, Exception)
    with pytest.raises(vx.PanicException):
        try:
            raise vx.PanicException("boom")
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught by `except Exception`")


FUNCTION_ORDER = [
    "py_check_to_edges",
    "py_generate_surface_code_checks",
    "py_generate_toy_code_checks",
    "py_generate_ring_code_checks",
    "py_generate_repetition_code_checks",
    "run_mcp_server",
    "cuda_is_available",
    "decoder_families",
]

CLASS_ORDER = [
    "BlossomDecoder", "FastUnionFindDecoder", "UnionFindDecoder", "SparseBlossomDecoder",
    "SlidingWindowDecoder", "StreamingDecoder", "BatchDecoder", "CPUBatchDecoder",
    "CUDABatchDecoder", "BenchmarkSuite", "LERBenchmark", "LookupTableDecoder", "BPOSDDecoder",
    "NeuralPredecoder", "DetectorGraph", "GNNPredecoder", "GNNTrainer", "HybridDecoder", "DetectorErrorModel",
    "RotatedSurfaceCode",
    "MatchingDecoder",
    "BeliefMatchingDecoder",
    "BeliefCorrelatedDecoder",
    "WeightedUnionFindDecoder",
    "LearnedMatchingDecoder",
    "RelayBPDecoder",
    "StreamMatchingDecoder",
]


def test_registry_order_is_version_classes_functions():
    names = [n for n in vars(vx) if not n.startswith("__") and n != "PanicException"]
    present_classes = [n for n in CLASS_ORDER if hasattr(vx, n)]
    present_functions = [n for n in FUNCTION_ORDER if hasattr(vx, n)]
    assert names == present_classes + present_functions
    assert list(vars(vx)).index("__version__") < list(vars(vx)).index(names[0])
    for name in present_classes:
        cls = getattr(vx, name)
        assert cls.__module__ == "vornex_decoder_v3"
        assert cls.__text_signature__.startswith("(")


@pytest.mark.parametrize("name", FUNCTION_ORDER[:5])
def test_generator_text_signatures(name):
    fn = getattr(vx, name)
    param = "check_to_qubits" if name == "py_check_to_edges" else "distance"
    assert fn.__text_signature__ == f"({param})"
    assert list(inspect.signature(fn).parameters) == [param]


def test_function_docstrings():
    assert vx.py_check_to_edges.__doc__ == "Convert check_to_qubits to edge list (Python-exposed)."
    assert vx.py_generate_ring_code_checks.__doc__ == "Generate a simple ring code for testing (Python-exposed)."
    assert vx.py_generate_repetition_code_checks.__doc__ == (
        "Generate a repetition/chain code for testing (Python-exposed).")
    assert vx.py_generate_toy_code_checks.__doc__ == (
        "Generate a toy code (not a proper quantum code) for backward compatibility.\n"
        "Kept for reference; prefer py_generate_surface_code_checks for real tests.")
    assert vx.py_generate_surface_code_checks.__doc__ == (
        "Generate the compact periodic surface-code-style layout used by the Python API.\n\n"
        "The public contract is `d*d` data qubits arranged on a periodic square grid and\n"
        "`2*d*d` four-body checks.  Indices are always in `0..d*d`, so downstream\n"
        "decoders can safely trust the returned `n_qubits`.")


def test_call_errors_follow_python_conventions():
    with pytest.raises(TypeError, match=r"missing required argument 'distance'"):
        vx.py_generate_ring_code_checks()
    with pytest.raises(TypeError, match=r"takes 1 positional argument but 2 were given"):
        vx.py_generate_ring_code_checks(1, 2)
    with pytest.raises(TypeError, match=r"unexpected keyword argument 'd'"):
        vx.py_generate_ring_code_checks(d=2)
    with pytest.raises(TypeError, match=r"multiple values for argument 'distance'"):
        vx.py_generate_ring_code_checks(2, distance=2)
    assert vx.py_generate_ring_code_checks(distance=1) == ([[0, 0]], 1)


def test_conversion_failures_carry_the_parameter_note():
    with pytest.raises(OverflowError) as info:
        vx.py_generate_ring_code_checks(-1)
    assert info.value.__notes__ == ["while processing 'distance'"]
