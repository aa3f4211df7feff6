"""The module's public surface, byte for byte: names in their public order,
text signatures, docstrings, and the texts of the errors each entry point
raises for malformed calls and arguments.

The stored listing (module_surface.txt beside this file) was written from the
module before its binding layer was restructured; any change to a signature,
docstring or error text shows up here as a diff. After an intended change to
the surface, regenerate it with

    PYTHONPATH=build/dev python3 tests/python/test_module_surface.py --write
"""
import os
import pathlib
import re
import sys
import tempfile

import numpy as np

import vornex_decoder_v3 as vx

LISTING = pathlib.Path(__file__).with_name("module_surface.txt")

CHECKS, N_QUBITS = [[0, 1], [1, 2], [2, 3], [3, 4]], 5

# One instance per class, built from the smallest inputs it accepts.
INSTANCES = {
    "BlossomDecoder": lambda: vx.BlossomDecoder(CHECKS, N_QUBITS, None),
    "FastUnionFindDecoder": lambda: vx.FastUnionFindDecoder(CHECKS, N_QUBITS),
    "UnionFindDecoder": lambda: vx.UnionFindDecoder(CHECKS, N_QUBITS),
    "SparseBlossomDecoder": lambda: vx.SparseBlossomDecoder(CHECKS, N_QUBITS),
    "SlidingWindowDecoder": lambda: vx.SlidingWindowDecoder(CHECKS, N_QUBITS),
    "StreamingDecoder": lambda: vx.StreamingDecoder(CHECKS, N_QUBITS, 3),
    "BatchDecoder": lambda: vx.BatchDecoder(CHECKS, N_QUBITS),
    "CPUBatchDecoder": lambda: vx.CPUBatchDecoder(CHECKS, N_QUBITS),
    "CUDABatchDecoder": lambda: vx.CUDABatchDecoder(CHECKS, N_QUBITS),
    "BenchmarkSuite": lambda: vx.BenchmarkSuite(CHECKS, N_QUBITS, 4, 1),
    "LERBenchmark": lambda: vx.LERBenchmark(),
    "LookupTableDecoder": lambda: vx.LookupTableDecoder(CHECKS, N_QUBITS),
    "BPOSDDecoder": lambda: vx.BPOSDDecoder(CHECKS, N_QUBITS, 0.1),
    "RelayBPDecoder": lambda: vx.RelayBPDecoder(CHECKS, N_QUBITS, 0.1),
    "NeuralPredecoder": lambda: vx.NeuralPredecoder(4, 5, 8, 8),
    "DetectorGraph": lambda: vx.DetectorGraph(CHECKS, [0, 1, 1, 0]),
    "GNNPredecoder": lambda: vx.GNNPredecoder(vx.DetectorGraph.node_feature_dim(),
                                              vx.DetectorGraph.edge_feature_dim(), 8, 1),
    "GNNTrainer": lambda: vx.GNNTrainer(CHECKS, N_QUBITS, 0.1),
    "HybridDecoder": lambda: vx.HybridDecoder(CHECKS, N_QUBITS),
    "DetectorErrorModel": lambda: vx.DetectorErrorModel("error(0.1) D0 D1 L0\ndetector(1, 2) D0\n"),
    "RotatedSurfaceCode": lambda: vx.RotatedSurfaceCode(3),
    "MatchingDecoder": lambda: vx.MatchingDecoder(CHECKS, N_QUBITS),
    "BeliefMatchingDecoder": lambda: vx.BeliefMatchingDecoder(
        "error(0.1) D0 D1\nerror(0.1) D1 D2 L0\nerror(0.1) D2 D3\nerror(0.1) D0\nerror(0.1) D3\n"),
    "BeliefCorrelatedDecoder": lambda: vx.BeliefCorrelatedDecoder(
        "error(0.1) D0 D1\nerror(0.1) D1 D2 L0\nerror(0.1) D2 D3\nerror(0.1) D0\nerror(0.1) D3\n"),
    "WeightedUnionFindDecoder": lambda: vx.WeightedUnionFindDecoder(CHECKS, N_QUBITS, weights=[1.0, 2.0, 3.0, 2.0, 1.0]),
    "LearnedMatchingDecoder": lambda: vx.LearnedMatchingDecoder(
        "error(0.1) D0 D1\nerror(0.1) D1 D2 L0\nerror(0.1) D2 D3\nerror(0.1) D0\nerror(0.1) D3\n", hidden_size=2),
    "StreamMatchingDecoder": lambda: vx.StreamMatchingDecoder(
        "error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1\nerror(0.1) D0 D2\nerror(0.1) D1 D3\nerror(0.1) D2 L0\n"
        "error(0.1) D2 D3\nerror(0.1) D3\ndetector(0, 0) D0\ndetector(1, 0) D1\ndetector(0, 1) D2\ndetector(1, 1) D3\n",
        window=2, commit=1),
}

# Candidate first arguments: wrong kinds, wrong dtypes, wrong shapes, bad
# layouts. Remaining parameters are filled with 1.
BAD_VALUES = {
    "None": None,
    "str": "x",
    "float64[4]": np.zeros(4, dtype=np.float64),
    "bool[4]": np.zeros(4, dtype=bool),
    "uint8[]": np.zeros((), dtype=np.uint8),
    "uint8[3]": np.zeros(3, dtype=np.uint8),
    "uint8[0]": np.zeros(0, dtype=np.uint8),
    "uint8[2,3]": np.zeros((2, 3), dtype=np.uint8),
    "uint8[2,4,1]": np.zeros((2, 4, 1), dtype=np.uint8),
    "uint8[4] strided": np.zeros(8, dtype=np.uint8)[::2],
    "uint8[2,4] strided": np.zeros((2, 8), dtype=np.uint8)[:, ::2],
    "list[int]": [0, 1],
    "list[str]": ["a"],
}

# Methods that would run a long computation or wait on standard input when
# given valid arguments; only their call errors are listed.
NOT_CALLED_WITH_VALUES = {"run", "run_all", "run_mcp_server"}
# Functions that would serve standard input even when called with no arguments.
NEVER_CALLED = {"run_mcp_server"}

CONSTRUCTOR_ARGUMENTS = {
    "no arguments": (),
    "None": (None,),
    "str check list": ("x", 3),
    "negative qubit": ([[0, -1]], 3),
    "qubit beyond n_qubits": ([[0, 7]], 3),
    "nested too deep": ([[[0]]], 3),
    "too many": (None,) * 13,
}


def outcome(call):
    try:
        result = call()
    except AttributeError as error:  # the interpreter's own text for read-only attributes varies by version
        return type(error).__name__
    except BaseException as error:  # PanicException derives from BaseException
        notes = getattr(error, "__notes__", [])
        text = numpy2_words(f"{type(error).__name__}: {error!s}")
        return text + "".join(f" [note: {n}]" for n in notes)
    return f"returned {type(result).__name__}"


# NumPy before 2.3 words two of its own refusals differently (a bool scalar
# used as an integer is a warning there, raised as an error under the test
# settings);
# the listing keeps NumPy 2's words so that it holds under both.
OLDER_NUMPY_WORDS = {
    r"DeprecationWarning: In future, it will be an error for 'np\.bool_?' scalars to be interpreted as an index":
        "TypeError: 'numpy.bool' object cannot be interpreted as an integer",
    r"'numpy\.bool_' object": "'numpy.bool' object",
}


def numpy2_words(text):
    for old, new in OLDER_NUMPY_WORDS.items():
        text = re.sub(old, new, text)
    return text


def parameter_count(callable_):
    signature = callable_.__text_signature__ or "()"
    inner = signature[signature.index("(") + 1:signature.rindex(")")]
    return len([p for p in inner.split(",") if p.strip() and not p.strip().startswith("$")])


def callable_lines(prefix, callable_, bound):
    lines = [f"{prefix} signature {callable_.__text_signature__!r}", f"{prefix} doc {callable_.__doc__!r}"]
    name = callable_.__name__
    n = parameter_count(callable_)
    lines.append(f"{prefix} too many arguments -> {outcome(lambda: bound(*([1] * (n + 1))))}")
    lines.append(f"{prefix} unknown keyword -> {outcome(lambda: bound(no_such_parameter=1))}")
    if name in NEVER_CALLED:
        return lines
    if n == 0:
        if name not in NOT_CALLED_WITH_VALUES:
            lines.append(f"{prefix} () -> {outcome(bound)}")
        return lines
    lines.append(f"{prefix} no arguments -> {outcome(bound)}")
    for label, value in BAD_VALUES.items():
        lines.append(f"{prefix} ({label}, ...) -> {outcome(lambda: bound(value, *([1] * (n - 1))))}")
    return lines


def class_lines(name, cls):
    lines = [f"class {name} signature {cls.__text_signature__!r}", f"class {name} doc {cls.__doc__!r}",
             f"class {name} module {cls.__module__!r}"]
    for label, arguments in CONSTRUCTOR_ARGUMENTS.items():
        lines.append(f"class {name} constructor ({label}) -> {outcome(lambda: cls(*arguments))}")
    try:
        instance = INSTANCES[name]()
    except RuntimeError as error:  # no device here: signatures and docstrings only
        lines.append(f"class {name} instance -> {type(error).__name__}")
        instance = None
    for attribute, raw in vars(cls).items():
        if attribute.startswith("__"):
            continue
        prefix = f"{name}.{attribute}"
        kind = type(raw).__name__
        lines.append(f"{prefix} kind {kind}")
        if instance is None:  # the bound callable's own doc, not the staticmethod wrapper's
            lines.append(f"{prefix} doc {getattr(cls, attribute).__doc__!r}")
        elif kind == "getset_descriptor":
            lines.append(f"{prefix} doc {raw.__doc__!r}")
            lines.append(f"{prefix} read -> {outcome(lambda: getattr(instance, attribute))}")
            lines.append(f"{prefix} set str -> {outcome(lambda: setattr(instance, attribute, 'x'))}")
            lines.append(f"{prefix} delete -> {outcome(lambda: delattr(instance, attribute))}")
        else:
            lines.extend(callable_lines(prefix, getattr(cls, attribute), getattr(instance, attribute)))
    return lines


def surface_lines():
    # save_weights/load_weights take the str candidate as a path: keep it in
    # a fresh directory.
    previous = os.getcwd()
    with tempfile.TemporaryDirectory() as scratch:
        os.chdir(scratch)
        try:
            return module_lines()
        finally:
            os.chdir(previous)


def module_lines():
    lines = [f"module doc {vx.__doc__!r}", f"module version {vx.__version__!r}"]
    public = [name for name in vars(vx) if not name.startswith("__")]
    lines.append(f"module names {public!r}")
    for name in public:
        item = getattr(vx, name)
        if name == "PanicException":
            lines.append(f"exception {name} bases {[b.__name__ for b in item.__bases__]!r} doc {item.__doc__!r}")
        elif isinstance(item, type):
            lines.extend(class_lines(name, item))
        else:
            lines.extend(callable_lines(f"function {name}", item, item))
    return lines


def test_surface_matches_stored_listing():
    expected = LISTING.read_text(encoding="utf-8").splitlines()
    actual = surface_lines()
    differing = [(i, e, a) for i, (e, a) in enumerate(zip(expected, actual)) if e != a]
    assert not differing[:5], "\n".join(f"line {i + 1}:\n  stored: {e}\n  now:    {a}" for i, e, a in differing[:5])
    assert len(actual) == len(expected)


if __name__ == "__main__" and "--write" in sys.argv:
    LISTING.write_text("\n".join(surface_lines()) + "\n", encoding="utf-8")
