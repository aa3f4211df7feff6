"""run_mcp_server driven end to end in a subprocess: one JSON line per request."""
import json
import os
import resource
import signal
import subprocess
import sys
import time

import pytest

import vornex_decoder_v3 as vx

SERVER = "import vornex_decoder_v3 as vx; r = vx.run_mcp_server(); print('returned', r)"


class Server:
    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, "-c", SERVER], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=os.environ.copy())

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def ask(self, line):
        self.send(line)
        return self.proc.stdout.readline().decode()

    def request(self, method, params=None, id=1):
        req = {"jsonrpc": "2.0", "id": id, "method": method}
        if params is not None:
            req["params"] = params
        return json.loads(self.ask(json.dumps(req)))

    def tool(self, name, arguments=None):
        return self.request("tools/call", {"name": name, "arguments": arguments})

    def close(self, timeout=20):
        out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, out.decode(), err.decode()


@pytest.fixture
def server():
    s = Server()
    yield s
    if s.proc.poll() is None:
        s.proc.kill()
        s.proc.communicate()


def test_exact_lines_and_clean_end_of_input(server):
    assert server.ask('{"jsonrpc":"2.0","id":1,"method":"ping"}') == '{"jsonrpc":"2.0","id":1,"result":{}}\n'
    server.send("")
    server.send(" \t ")
    # Notifications get no line back: the next line read answers the request after them.
    server.send('{"jsonrpc":"2.0","method":"notifications/initialized"}')
    server.send('{"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}}')
    assert server.ask('{"jsonrpc":"2.0","id":"x","method":"tools/call"}\r') == \
        '{"jsonrpc":"2.0","id":"x","error":{"code":-32602,"message":"Unknown tool: "}}\n'
    server.proc.stdin.write(b'{"jsonrpc":"2.0","id":9,"method":"ping"}')  # no final line feed
    code, out, err = server.close()
    assert code == 0 and err == ""
    assert out == '{"jsonrpc":"2.0","id":9,"result":{}}\nreturned None\n'


def test_parse_errors_keep_the_server_running(server):
    for line in ("not json", '{"jsonrpc":"2.0","id":1}', '{"jsonrpc":"2.0","method":"x"} trailing',
                 '[{"jsonrpc":"2.0","id":1,"method":"ping"}]', "\u00a0{}"):
        reply = json.loads(server.ask(line))
        assert reply["id"] is None and reply["error"]["code"] == -32700
        assert reply["error"]["message"].startswith("Parse error: ")
    assert json.loads(server.ask('{"jsonrpc":"2.0","id":1}'))["error"]["message"] == \
        "Parse error: missing field `method`"
    assert server.request("ping", id=[1, {"b": 2, "a": 3}])["id"] == [1, {"b": 2, "a": 3}]


def test_initialize_and_tools_list(server):
    info = {"name": "vornex-mcp", "version": "0.6.6"}
    for asked, agreed in (("2024-11-05", "2024-11-05"), ("1999-01-01", "2025-11-25")):
        init = server.request("initialize", {"protocolVersion": asked})
        assert init["result"] == {"capabilities": {"tools": {}}, "protocolVersion": agreed,
                                  "protocol_version": agreed, "serverInfo": info, "server_info": info}
    tools = server.request("tools/list")["result"]["tools"]
    assert [t["name"] for t in tools] == ["decode_syndrome", "benchmark_decoder", "get_decoder_info"]
    assert list(tools[0]) == ["description", "inputSchema", "name"]
    assert tools[0]["inputSchema"]["required"] == ["check_to_qubits", "syndrome"]
    assert tools[1]["description"] == "Run a benchmark of the decoder and return performance metrics."
    assert "required" not in tools[2]["inputSchema"]


def test_decode_tool_matches_the_decoder(server):
    checks, nq = vx.py_generate_repetition_code_checks(7)
    dec = vx.UnionFindDecoder(checks, nq)
    import numpy as np
    rng = np.random.default_rng(3)
    for _ in range(20):
        s = rng.integers(0, 2, len(checks), dtype=np.uint8)
        reply = server.tool("decode_syndrome", {"check_to_qubits": checks, "syndrome": s.tolist()})
        content = reply["result"]["content"]
        assert len(content) == 1 and content[0]["type"] == "text"
        out = json.loads(content[0]["text"])
        assert content[0]["text"].startswith('{\n  "correction": [\n')
        assert out == {"correction": dec.decode(s).tolist(), "n_checks": len(checks), "n_qubits": nq}


def test_tool_errors(server):
    def message(name, arguments):
        reply = server.tool(name, arguments)
        assert reply["error"]["code"] == -32602 and "result" not in reply
        return reply["error"]["message"]

    assert message("decode_syndrome", {"check_to_qubits": [[0, 1]]}) == "Missing or invalid syndrome"
    assert message("decode_syndrome", {"check_to_qubits": [[0, 1]], "syndrome": [256]}) == "Missing or invalid syndrome"
    assert message("decode_syndrome", {"check_to_qubits": "ab", "syndrome": [1]}) == "Missing or invalid check_to_qubits"
    assert message("decode_syndrome", {"check_to_qubits": [[0, 1, 2], [0, 1], [0, 1]], "syndrome": [1, 0, 0]}) == \
        str(pytest.raises(ValueError, vx.UnionFindDecoder, [[0, 1, 2], [0, 1], [0, 1]], None).value)
    assert message("nothing", {}) == "Unknown tool: nothing"


def test_benchmark_tool_defaults(server):
    reply = server.tool("benchmark_decoder", {"check_to_qubits": [[0, 1], [1, 2]]})
    text = reply["result"]["content"][0]["text"]
    out = json.loads(text)
    assert list(out) == sorted(out) and len(out) == 9
    assert out["n_samples"] == 1000 and out["version"] == "0.6.6"
    small = json.loads(server.tool("benchmark_decoder", {"check_to_qubits": [[0, 1]], "n_samples": 3,
                                                         "seed": 1})["result"]["content"][0]["text"])
    assert small["n_samples"] == 3


def test_invalid_utf8_ends_with_runtime_error(server):
    server.proc.stdin.write(b'{"jsonrpc":"2.0","id":1,"method":"ping"}\n\xff\xfe\n{"jsonrpc":"2.0","id":2,"method":"ping"}\n')
    code, out, err = server.close()
    assert code == 1
    assert out.count("\n") == 1 and '"id":1' in out
    assert "RuntimeError: IO error: stream did not contain valid UTF-8" in err


def test_interrupt_stops_a_waiting_server(server):
    assert server.request("ping")["result"] == {}
    server.proc.send_signal(signal.SIGINT)
    deadline = time.time() + 10
    while server.proc.poll() is None and time.time() < deadline:
        time.sleep(0.05)
    code, _, err = server.close()
    assert code != 0 and "KeyboardInterrupt" in err


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer cannot run under an address-space limit")
def test_a_correction_too_large_to_answer_is_a_tool_error():
    # A declared qubit count of 10^9 decodes, but its text does not fit in a
    # 3 GiB address space: the answer is a tool error and the server goes on.
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))

    requests = [{"jsonrpc": "2.0", "id": 7, "method": "tools/call",
                 "params": {"name": "decode_syndrome", "arguments": {
                     "check_to_qubits": [[0, 1]], "syndrome": [1], "n_qubits": 1_000_000_000}}},
                {"jsonrpc": "2.0", "id": 8, "method": "ping"}]
    child = subprocess.run([sys.executable, "-c", SERVER], input="".join(json.dumps(r) + "\n" for r in requests),
                           capture_output=True, text=True, preexec_fn=limit, timeout=120, env=os.environ.copy())
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        '{"jsonrpc":"2.0","id":7,"error":{"code":-32602,"message":"Not enough memory for the request"}}',
        '{"jsonrpc":"2.0","id":8,"result":{}}',
        "returned None"]
