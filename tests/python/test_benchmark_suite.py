"""BenchmarkSuite: report text, member order, defaults and argument errors."""
import json
import re

import pytest

import vornex_decoder_v3 as vx

KEYS = ["version", "n_samples", "latency_mean_us", "latency_p50_us", "latency_p99_us",
        "latency_min_us", "latency_max_us", "throughput", "timestamp"]
TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?\+00:00$")


def run(checks, n_qubits=None, n_samples=None, seed=None):
    text = vx.BenchmarkSuite(checks, n_qubits, n_samples, seed).run()
    return text, json.loads(text)


def test_report_members_in_order_with_sane_values():
    checks, nq = vx.py_generate_surface_code_checks(3)
    text, report = run(checks, nq, 300, 5)
    assert list(report) == KEYS
    assert text.startswith('{\n  "version": "0.6.6",\n  "n_samples": 300,\n')
    assert text.endswith('+00:00"\n}')
    assert TIMESTAMP.match(report["timestamp"])
    lat = [report[k] for k in KEYS[2:7]]
    assert all(isinstance(v, float) and v >= 0 for v in lat)
    assert report["latency_min_us"] <= report["latency_p50_us"] <= report["latency_p99_us"] <= report["latency_max_us"]
    assert report["latency_min_us"] <= report["latency_mean_us"] <= report["latency_max_us"]
    assert all(round(v, 3) == v for v in lat)
    assert isinstance(report["throughput"], int) and report["throughput"] > 0


def test_defaults_and_single_sample():
    _, report = run([[0, 1], [1, 2]])
    assert report["n_samples"] == 10000
    _, one = run([[0, 1], [1, 2]], None, 1, 9)
    assert len({one[k] for k in KEYS[2:7]}) == 1


def test_argument_errors():
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        vx.BenchmarkSuite("ab", None, None, None)
    with pytest.raises(OverflowError):
        vx.BenchmarkSuite([[0, 1]], None, -1, None)
    with pytest.raises(TypeError):
        vx.BenchmarkSuite([[0, 1]], None, None)
    with pytest.raises(ValueError):
        vx.BenchmarkSuite([[0, 1]], None, 0, None)


def test_run_is_repeatable_on_one_object():
    suite = vx.BenchmarkSuite([[0, 1, 2], [2, 3]], 4, 50, 1)
    first, second = json.loads(suite.run()), json.loads(suite.run())
    assert first["n_samples"] == second["n_samples"] == 50
