"""The tool server driven by the official MCP client over stdio, as an assistant host connects."""
import importlib.util
import json
import logging
import os
import sys
import tempfile
import time

import numpy as np
import pytest

mcp = pytest.importorskip("mcp")
anyio = pytest.importorskip("anyio")

import vornex_decoder_v3 as vx

# The server as the console command starts it: native tools, and the Python-hosted one when stim imports.
SERVER = "from vornex_tools.mcp_server import main; main()"
HOSTED = ["estimate_logical_error_rate"] if importlib.util.find_spec("stim") else []
# The protocol error the client raises: MCPError in the 2.x SDK, McpError in 1.x.
ProtocolError = getattr(mcp, "MCPError", None) or getattr(mcp, "McpError")

CHECKS, N_QUBITS = vx.py_generate_repetition_code_checks(5)
# Forty seconds or more of work on this small code: only a cancellation ends it early.
# A distance-5 repetition code's model: detector d between data bits d and d + 1, the observable on bit 0.
MODEL = "error(0.1) D0 L0\n" + "".join(f"error(0.1) D{d} D{d + 1}\n" for d in range(3)) + "error(0.1) D3\n"
EVENTS = np.random.default_rng(2).integers(0, 2, (20, 4), dtype=np.uint8)
LONG_BENCHMARK = {"check_to_qubits": [[0, 1], [1, 2]], "n_samples": 1_000_000}


async def connected(errlog, body):
    params = mcp.StdioServerParameters(command=sys.executable, args=["-c", SERVER], env=dict(os.environ))
    async with mcp.stdio_client(params, errlog=errlog) as (read, write):
        async with mcp.ClientSession(read, write, read_timeout_seconds=60) as session:
            return await body(session)


def run_session(body, caplog):
    """Runs body(session) against a fresh server; nothing may be logged as a warning or on the error stream."""
    caplog.set_level(logging.DEBUG)
    with tempfile.TemporaryFile("w+") as errlog:
        out = anyio.run(connected, errlog, body)
        errlog.seek(0)
        assert errlog.read() == ""
    # A reply to a notification, or any line the client cannot parse, is logged as an error.
    assert [r.getMessage() for r in caplog.records if r.levelno >= logging.WARNING] == []
    return out


def test_sdk_client_connects_lists_calls_and_pings(caplog):
    async def body(session):
        init = await session.initialize()
        tools = await session.list_tools()
        syndrome = [0, 1, 1, 0]
        decoded = await session.call_tool("decode_syndrome", {"check_to_qubits": CHECKS, "syndrome": syndrome})
        await session.send_ping()
        return init, tools, decoded

    init, tools, decoded = run_session(body, caplog)
    expected = vx.UnionFindDecoder(CHECKS, N_QUBITS).decode(np.array([0, 1, 1, 0], np.uint8)).tolist()
    assert init.server_info.name == "vornex-mcp" and init.server_info.version == "0.6.6"
    assert [t.name for t in tools.tools] == ["decode_syndrome", "benchmark_decoder", "get_decoder_info",
                                             "predict_observables", "list_decoder_families", *HOSTED]
    for tool in tools.tools:
        assert tool.output_schema["type"] == "object"
        for name, prop in tool.input_schema["properties"].items():
            assert prop.get("description"), (tool.name, name)
    assert not decoded.is_error
    assert decoded.structured_content == {"correction": expected, "n_checks": 4, "n_qubits": 5}
    assert json.loads(decoded.content[0].text) == decoded.structured_content


def test_every_tool_with_valid_and_invalid_arguments(caplog):
    async def body(session):
        await session.initialize()
        ok = {
            "decode": await session.call_tool("decode_syndrome", {"check_to_qubits": CHECKS, "syndrome": [1, 0, 0, 0],
                                                                  "n_qubits": 9}),
            "benchmark": await session.call_tool("benchmark_decoder", {"check_to_qubits": CHECKS, "n_samples": 5,
                                                                       "seed": 3}),
            "info": await session.call_tool("get_decoder_info", {}),
            "wrong length": await session.call_tool("decode_syndrome", {"check_to_qubits": CHECKS, "syndrome": [1]}),
            "predict": await session.call_tool("predict_observables", {
                "detector_error_model": MODEL, "detection_events": EVENTS.tolist(), "decoder": "union_find"}),
            "predict fired": await session.call_tool("predict_observables", {
                "detector_error_model": MODEL, "fired_detectors": [np.flatnonzero(e).tolist() for e in EVENTS]}),
            "predict wrong width": await session.call_tool("predict_observables", {
                "detector_error_model": MODEL, "detection_events": [[1, 0]]}),
        }
        refused = {}
        for label, name, arguments in (
                ("negative n_qubits", "decode_syndrome", {"check_to_qubits": CHECKS, "syndrome": [0] * 4,
                                                          "n_qubits": -3}),
                ("index too large", "decode_syndrome", {"check_to_qubits": [[0, 1 << 29]], "syndrome": [1]}),
                ("byte out of range", "decode_syndrome", {"check_to_qubits": CHECKS, "syndrome": [256, 0, 0, 0]}),
                ("negative samples", "benchmark_decoder", {"check_to_qubits": CHECKS, "n_samples": -5}),
                ("no checks", "benchmark_decoder", {}),
                ("unknown decoder", "predict_observables", {"detector_error_model": MODEL, "fired_detectors": [[0]],
                                                            "decoder": "guess"}),
                ("too many shots", "predict_observables", {"detector_error_model": MODEL,
                                                           "fired_detectors": [[]] * 10_001}),
                ("unknown", "no_such_tool", {})):
            with pytest.raises(ProtocolError) as raised:
                await session.call_tool(name, arguments)
            refused[label] = str(raised.value)
        return ok, refused

    ok, refused = run_session(body, caplog)
    assert ok["decode"].structured_content["n_qubits"] == 9
    bench = ok["benchmark"].structured_content
    assert bench["n_samples"] == 5 and bench["latency_min_us"] <= bench["latency_max_us"]
    assert ok["info"].structured_content["version"] == "0.6.6"
    assert ok["wrong length"].is_error
    # Each refusal carries its own reason (the server's texts are asserted natively).
    assert len(set(refused.values())) == len(refused)
    for label, family in (("predict", vx.UnionFindDecoder), ("predict fired", vx.MatchingDecoder)):
        expected = family.from_detector_error_model(MODEL).predict_observables_batch(EVENTS)
        assert ok[label].structured_content["predictions"] == expected.tolist(), label
        assert ok[label].structured_content["observable_flips"] == [int(expected.sum())]
    assert ok["predict wrong width"].is_error


async def cancel_after_reports(session, name, arguments, reports):
    """Calls a long tool, cancels it at its reports-th progress notification, then makes one more call.

    Returns the (done, total) pairs received, the seconds from the cancel to the next call's answer, and that
    answer: calls are answered in order, so it comes back only once the cancelled call has stopped."""
    progress = []
    with anyio.CancelScope() as scope:
        async def on_progress(done, total, message):
            progress.append((done, total))
            if len(progress) == reports:
                scope.cancel()

        await session.call_tool(name, arguments, progress_callback=on_progress)
    cancelled_at = time.monotonic()
    after = await session.call_tool("get_decoder_info", {})
    return progress, time.monotonic() - cancelled_at, after


def check_stopped_promptly(progress, waited, after, reports, total):
    done = [d for d, _ in progress]
    assert len(done) == reports and done == sorted(set(done)) and done[-1] < total
    assert [t for _, t in progress] == [total] * reports
    assert waited < 10, waited
    assert not after.is_error


def test_progress_is_reported_and_a_cancelled_call_stops_promptly(caplog):
    async def body(session):
        await session.initialize()
        return await cancel_after_reports(session, "benchmark_decoder", LONG_BENCHMARK, 3)

    check_stopped_promptly(*run_session(body, caplog), reports=3, total=1_000_000)



LER = {"circuit": "repetition_code:memory", "distance": 3, "rounds": 3, "noise": 0.08, "max_shots": 20_000}
# About a minute of sampling and decoding: only a cancellation ends it early.
LONG_LER = {"circuit": "surface_code:rotated_memory_z", "distance": 11, "noise": 0.005, "max_shots": 1_000_000}


def peer_error_rate(shots):
    """The same experiment sampled afresh and decoded by pymatching."""
    stim = pytest.importorskip("stim")
    pymatching = pytest.importorskip("pymatching")
    p = LER["noise"]
    circuit = stim.Circuit.generated(LER["circuit"], distance=LER["distance"], rounds=LER["rounds"],
                                     after_clifford_depolarization=p, before_round_data_depolarization=p,
                                     before_measure_flip_probability=p, after_reset_flip_probability=p)
    events, actual = circuit.compile_detector_sampler(seed=11).sample(shots, separate_observables=True)
    matching = pymatching.Matching.from_detector_error_model(circuit.detector_error_model(decompose_errors=True))
    return float(np.mean(np.any(matching.decode_batch(events) != actual, axis=1)))


def test_logical_error_rate_tool_agrees_with_a_peer_refuses_bad_arguments_and_stops_when_cancelled(caplog):
    pytest.importorskip("stim")

    async def body(session):
        await session.initialize()
        ok = {family: await session.call_tool("estimate_logical_error_rate", {**LER, "decoder": family, "seed": 3})
              for family in ("matching", "uf", "weighted_uf")}
        ok["older name"] = await session.call_tool("estimate_logical_error_rate", {**LER, "decoder": "union_find",
                                                                                   "max_shots": 100})
        ok["budget"] = await session.call_tool("estimate_logical_error_rate", {**LER, "max_errors": 30})
        # A colour code's model keeps hyperedges: by default a family that accepts them decodes it.
        ok["hyperedges"] = await session.call_tool("estimate_logical_error_rate", {
            "circuit": "color_code:memory_xyz", "distance": 5, "noise": 0.01, "max_shots": 300})
        refused = {}
        for label, change in (("distance", {"distance": 1}), ("noise", {"noise": 0.7}), ("rounds", {"rounds": 2.0}),
                              ("circuit", {"circuit": "toric"}), ("shots", {"max_shots": 1_000_001}),
                              ("decoder", {"decoder": "pymatching"}),
                              ("graph decoder", {"circuit": "color_code:memory_xyz", "decoder": "matching"})):
            with pytest.raises(ProtocolError) as raised:
                await session.call_tool("estimate_logical_error_rate", {**LER, **change})
            refused[label] = str(raised.value)
        return ok, refused, await cancel_after_reports(session, "estimate_logical_error_rate", LONG_LER, 2)

    ok, refused, cancelled = run_session(body, caplog)
    peer = peer_error_rate(20_000)
    for family in ("matching", "uf", "weighted_uf"):
        out = ok[family].structured_content
        assert out["shots"] == 20_000 and out["num_detectors"] == 8 and out["decoder"] == family
        assert out["logical_error_rate"] == out["errors"] / out["shots"]
        # Exact matching decodes as the peer does: the rates agree within sampling noise (|z| < 4.5).
        pooled = (out["logical_error_rate"] + peer) / 2
        z = (out["logical_error_rate"] - peer) / np.sqrt(pooled * (1 - pooled) * 2 / 20_000)
        assert abs(z) < 4.5 or (family != "matching" and out["logical_error_rate"] > peer), (family, out, peer)
    assert 30 <= ok["budget"].structured_content["errors"] and ok["budget"].structured_content["shots"] < 20_000
    assert ok["older name"].structured_content["decoder"] == "uf"
    hyperedges = ok["hyperedges"].structured_content
    assert hyperedges["decoder"] == "bposd" and hyperedges["shots"] == 300 and hyperedges["errors"] < 300
    assert refused["distance"].endswith("distance must be an integer in [2, 25], got 1")
    assert refused["noise"].endswith("noise must be a number in (0, 0.5], got 0.7")
    assert refused["rounds"].endswith("rounds must be an integer in [1, 100], got 2.0")
    assert refused["circuit"].endswith('circuit must be one of repetition_code:memory, surface_code:rotated_memory_x, '
                                       'surface_code:rotated_memory_z, surface_code:unrotated_memory_x, '
                                       'surface_code:unrotated_memory_z, color_code:memory_xyz, got "toric"')
    assert refused["shots"].endswith("max_shots must be an integer in [1, 1000000], got 1000001")
    from vornex_tools.circuit_tool import decoders
    assert refused["decoder"].endswith(f'decoder must be one of {", ".join(decoders())}, got "pymatching"')
    colour = ", ".join(decoders("color_code:memory_xyz"))
    assert refused["graph decoder"].endswith("decoder matching cannot decode color_code:memory_xyz: its error model "
                                             f"has hyperedges; decoders for it: {colour}")
    check_stopped_promptly(*cancelled, reports=2, total=1_000_000)
