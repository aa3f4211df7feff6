"""Randomized calls of every public class and function of the module (keyword-only
settings included, given by name with values of their kind), for
test_random_arguments.py, which runs this file in a child process so that a
crash, a hang or an abort fails the test instead of the test run.

    python random_calls.py SEED N_CALLS LOG_PATH

Before each call its description is appended to LOG_PATH, so the parent can
name the call that killed the child. Any Exception is an acceptable answer to
a bad argument; PanicException (an internal assertion) and SystemError (an
error the binding failed to report properly) are findings: the child prints
them and exits with status 3. A call that runs longer than CALL_SECONDS is
ended by SIGALRM, whose default action kills the child.
"""
import inspect
import os
import random
import resource
import signal
import sys
import tempfile

import numpy as np

import vornex_decoder_v3 as vx

CALL_SECONDS = 20
# Address-space cap: size checks that compare with the memory limit refuse
# huge requests up front instead of letting them run the machine dry.
ADDRESS_SPACE = 4 << 30

SMALL_CODES = [
    ([[0, 1], [1, 2], [2, 3]], 4),
    ([[0, 1], [1, 2], [2, 0]], 3),
    ([[0, 1, 2], [2, 3]], 4),
    ([[0], [0, 1], [1]], 2),
]


class Values:
    """Argument values of many kinds, biased towards the edges of each."""

    def __init__(self, rng, folder):
        self.rng = rng
        self.folder = folder
        self.graphs = [vx.DetectorGraph(c, [1] * len(c)) for c, _ in SMALL_CODES]

    def integer(self):
        return self.rng.choice([0, 1, 2, 3, 5, 7, 64, -1, -(2**31), 2**31, 2**32, 2**62, 2**63, 2**64, 10**30])

    def small_integer(self):
        return self.rng.choice([0, 1, 2, 3, 4, 5])

    def real(self):
        return self.rng.choice([0.0, 0.1, 0.5, 1.0, -1.0, 1e-300, 1e308, float("nan"), float("inf"), -float("inf")])

    def checks(self):
        return self.rng.choice(
            [c for c, _ in SMALL_CODES]
            + [[], [[]], [[0, 0]], [[2**32 - 1]], [[0, 1], [1, 2], [2, 3], [0, 3]], [[0, [1]]], [[-1]], [[2**40]],
               "abc", [(0, 1)], [[0.5]]]
        )

    def array(self, length=None):
        rng = self.rng
        n = length if length is not None else rng.choice([0, 1, 2, 3, 4, 5, 8])
        kind = rng.randrange(8)
        if kind == 0:
            return np.zeros(n, np.float64)
        if kind == 1:
            return np.ones(2 * n, np.uint8)[::2]
        if kind == 2:
            return np.zeros((rng.choice([0, 1, 3, 65]), n), np.uint8)
        if kind == 3:
            return np.zeros((2, n), np.uint8, order="F")
        if kind == 4:
            return np.array(rng.choice([0, 7]), np.uint8)
        if kind == 5:
            return np.zeros(n, bool)
        return np.frombuffer(bytes(rng.randrange(256) for _ in range(n)), np.uint8).copy()

    def path(self):
        return self.rng.choice(
            [os.path.join(self.folder, "w"), os.path.join(self.folder, "missing", "w"), self.folder, "", "a\0b",
             "/dev/null", 7]
        )

    def model(self):
        return self.rng.choice(["error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1\n", "", "error(0.1) L0",
                                "error(0.1) D0 D1 D2 L0\n", "repeat 18446744073709551618 {\nerror(0.1) D0\n}",
                                "error(0.6) D0", "error(0.1) D0 D67108863 L0", 7])

    def keyword(self, hint):
        """A value for a keyword-only argument: mostly one of the kind it takes, sometimes anything."""
        rng = self.rng
        if rng.random() < 0.2:
            return self.any()
        if hint in ("bit_packed", "plain") or hint.startswith("use_"):
            return rng.choice([True, False, 0, 1, None, "yes"])
        if hint == "progress":
            return rng.choice([None, lambda done, total: None, lambda done, total: 1 / 0, 5])
        if hint.endswith(("method", "schedule", "stop", "weight", "fallback")):
            return rng.choice(["minimum_sum", "product_sum", "parallel", "serial", "posterior", "syndrome", "osd_0",
                               "osd_e", "osd_cs", "", "MINIMUM_SUM", "x" * 300, None])
        if "order" in hint:
            return rng.choice([0, 1, 2, 15, 16, 60, -1, -(2**70), 2**64, None])
        return self.any(hint)

    def any(self, hint=None):
        rng = self.rng
        hint = hint or ""
        if hint == "model":
            return self.model()
        if "syndrome" in hint or "correction" in hint:
            return self.array() if rng.random() < 0.8 else self.rng.choice([[0, 1], None, "x"])
        if "check" in hint:
            return self.checks()
        if "path" in hint:
            return self.path()
        if "graph" in hint:
            return rng.choice(self.graphs + [self.graphs, None, "g", [None]])
        if "gnn" in hint:
            return rng.choice([vx.GNNPredecoder(10, 8, 2, 1), None, self.graphs[0]])
        if "weights" in hint or "targets" in hint:
            return rng.choice([[], [1.0, 2.0], [[1.0] * 3], [(0, 1.0)], [[0.5]] * 2, None, [float("nan")]])
        if "rate" in hint or "factor" in hint or "lambda" in hint or "latency" in hint:
            return self.real() if rng.random() < 0.8 else self.integer()
        if hint.startswith("n_") or "size" in hint or "iter" in hint or "seed" in hint or "distance" in hint:
            return self.small_integer() if rng.random() < 0.7 else self.integer()
        kind = rng.randrange(6)
        return [self.integer, self.real, self.array, self.checks, self.path,
                lambda: rng.choice([None, "", b"x", {}, object(), [], (1, 2)])][kind]()


def parameters(function, kind=None):
    """Names of the parameters (of one kind, when given) in the function's text signature."""
    text = getattr(function, "__text_signature__", None)
    if not text:
        return []
    try:
        params = inspect.signature(function).parameters.values()
    except (ValueError, TypeError):
        return []
    return [p.name for p in params
            if p.name not in ("self", "$self", "cls", "$cls") and (kind is None or p.kind == kind)]


def good_instance(cls, values):
    """An instance from arguments the class accepts, when we know them."""
    checks, n = values.rng.choice(SMALL_CODES)
    name = cls.__name__
    known = {
        "BlossomDecoder": (checks, n, None),
        "BPOSDDecoder": (checks, n, 0.1),
        "BenchmarkSuite": (checks, n, 3, 1),
        "StreamingDecoder": (checks, n, 3),
        "NeuralPredecoder": (len(checks), n, None, None),
        "DetectorGraph": (checks, [1] * len(checks)),
        "GNNPredecoder": (10, 8, 3, 1),
        "GNNTrainer": (checks, n, 0.1),
        "LERBenchmark": (),
    }
    args = known.get(name, (checks, n))
    try:
        return cls(*args)
    except Exception:
        return None


def random_arguments(function, values):
    names = [n for n in parameters(function) if n not in parameters(function, inspect.Parameter.KEYWORD_ONLY)]
    rng = values.rng
    count = len(names) + rng.choice([0, 0, 0, 0, -1, 1])
    args = [values.any(names[i] if i < len(names) else None) for i in range(max(count, 0))]
    kwargs = {}
    if names and rng.random() < 0.2:
        kwargs[rng.choice(names)] = values.any(rng.choice(names))
        args = args[: max(0, len(args) - 1)]
    # Keyword-only settings, each given half the time, by name.
    for name in parameters(function, inspect.Parameter.KEYWORD_ONLY):
        if rng.random() < 0.5:
            kwargs[name] = values.keyword(name)
    return args, kwargs


def describe(target, args, kwargs):
    def short(v):
        if isinstance(v, np.ndarray):
            return f"ndarray(shape={v.shape}, dtype={v.dtype}, contiguous={v.flags.c_contiguous})"
        text = repr(v)
        return text if len(text) < 80 else text[:77] + "..."

    parts = [short(a) for a in args] + [f"{k}={short(v)}" for k, v in kwargs.items()]
    return f"{target}({', '.join(parts)})"


def main():
    seed, n_calls, log_path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))
    rng = random.Random(seed)
    folder = tempfile.mkdtemp(prefix="vornex_random_calls_")
    values = Values(rng, folder)
    public = [getattr(vx, n) for n in dir(vx) if not n.startswith("_") and n not in ("PanicException",)]
    classes = [c for c in public if isinstance(c, type)]
    functions = [f for f in public if callable(f) and not isinstance(f, type)]
    log = open(log_path, "w", buffering=1)
    findings = []

    def call(target, function, args, kwargs):
        log.write(describe(target, args, kwargs) + "\n")
        signal.alarm(CALL_SECONDS)
        try:
            return function(*args, **kwargs)
        except (SystemError, vx.PanicException) as e:
            findings.append(f"{describe(target, args, kwargs)} -> {type(e).__name__}: {e}")
        except Exception:
            pass
        finally:
            signal.alarm(0)
        return None

    for _ in range(n_calls):
        if rng.random() < 0.1:
            function = rng.choice(functions)
            args, kwargs = random_arguments(function, values)
            call(function.__name__, function, args, kwargs)
            continue
        cls = rng.choice(classes)
        if rng.random() < 0.2:
            args, kwargs = random_arguments(cls, values)
            instance = call(cls.__name__, cls, args, kwargs)
        else:
            instance = good_instance(cls, values)
        if instance is None:
            continue
        members = [m for m in dir(cls) if not m.startswith("_")]
        for _ in range(rng.randrange(1, 4)):
            name = rng.choice(members)
            attribute = inspect.getattr_static(cls, name)
            target = f"{cls.__name__}.{name}"
            if inspect.isdatadescriptor(attribute):
                if rng.random() < 0.5:
                    call(target, getattr, [instance, name], {})
                else:
                    call(target + " = ", setattr, [instance, name, values.any(name)], {})
                continue
            method = getattr(instance, name)
            args, kwargs = random_arguments(method, values)
            call(target, method, args, kwargs)
    log.close()
    for finding in findings:
        print(finding)
    sys.exit(3 if findings else 0)


if __name__ == "__main__":
    main()
