"""The `vornex-mcp` command: declared by the package, installed beside the interpreter, answering a handshake."""
import importlib.metadata
import importlib.util
import json
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[3]
INSTALLED = pathlib.Path(sys.executable).with_name("vornex-mcp")
HANDSHAKE = "".join(json.dumps(line) + "\n" for line in (
    {"jsonrpc": "2.0", "id": 1, "method": "initialize",
     "params": {"protocolVersion": "2025-06-18", "capabilities": {}, "clientInfo": {"name": "t", "version": "1"}}},
    {"jsonrpc": "2.0", "method": "notifications/initialized"},
    {"jsonrpc": "2.0", "id": 2, "method": "ping"},
))


def answers(command):
    result = subprocess.run(command, input=HANDSHAKE.encode(), capture_output=True, timeout=60, env=os.environ.copy())
    assert result.returncode == 0 and result.stderr == b"", result.stderr
    return [json.loads(line) for line in result.stdout.splitlines()]


def check_handshake(replies):
    assert [r["id"] for r in replies] == [1, 2]
    assert replies[0]["result"]["protocolVersion"] == "2025-06-18"
    assert replies[0]["result"]["serverInfo"]["name"] == "vornex-mcp"
    assert replies[1]["result"] == {}


def test_package_declares_the_command():
    assert 'vornex-mcp = "vornex_tools.mcp_server:main"' in (ROOT / "pyproject.toml").read_text().splitlines()


def test_module_route_and_vornex_serve_answer_the_handshake():
    check_handshake(answers([sys.executable, "-m", "vornex_tools.mcp_server"]))
    check_handshake(answers([sys.executable, "-m", "vornex_tools", "serve"]))
    help_text = subprocess.run([sys.executable, "-m", "vornex_tools.mcp_server", "--help"], capture_output=True,
                               timeout=60, stdin=subprocess.DEVNULL)
    assert help_text.returncode == 0 and help_text.stdout.startswith(b"usage: vornex-mcp")


def test_installed_entry_point_starts_the_server():
    if not INSTALLED.exists():
        pytest.skip("the package is not installed for this interpreter (developer route)")
    entries = {e.value for e in importlib.metadata.entry_points(group="console_scripts") if e.name == "vornex-mcp"}
    assert entries == {"vornex_tools.mcp_server:main"}
    check_handshake(answers([str(INSTALLED)]))


def test_the_circuit_tool_is_offered_only_when_stim_imports(monkeypatch):
    from vornex_tools import mcp_server
    if importlib.util.find_spec("stim"):
        assert [json.loads(listing)["name"] for listing, _ in mcp_server.hosted_tools()] == \
            ["estimate_logical_error_rate"]
    monkeypatch.setitem(sys.modules, "stim", None)  # import stim raises ImportError
    assert mcp_server.hosted_tools() == []


def test_malformed_hosted_tools_are_refused_before_serving():
    import vornex_decoder_v3 as vx
    with pytest.raises(TypeError, match=r"^tools\[0\] must be a \(listing text, callable\) pair$"):
        vx.run_mcp_server(tools=[("{}",)])
    with pytest.raises(TypeError, match=r"^tools\[1\] must be a \(listing text, callable\) pair$"):
        vx.run_mcp_server(tools=[('{"name":"a"}', print), ('{"name":"b"}', 5)])
    with pytest.raises(ValueError, match=r"^tools\[0\]: the listing must be a JSON object with a name$"):
        vx.run_mcp_server(tools=[('{"name":7}', print)])
    with pytest.raises(TypeError, match="^tools must be a sequence of"):
        vx.run_mcp_server(tools=5)
