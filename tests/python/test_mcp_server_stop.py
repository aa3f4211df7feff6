"""The tool server under a host that stops work: a cancelled call is answered within about a second at the
largest size, progress goes out about every 100 ms, and SIGTERM or SIGINT cancels what runs and ends the
server within about a second."""
import importlib.util
import json
import select
import signal
import subprocess
import sys
import time

import pytest

SERVER = "from vornex_tools.mcp_server import main; import sys; sys.exit(main())"
CALLS = {
    "benchmark_decoder": {"check_to_qubits": [[0, 1], [1, 2]], "n_samples": 1_000_000},
    # The largest experiment offered: about a minute of sampling and decoding.
    "estimate_logical_error_rate": {"circuit": "surface_code:rotated_memory_z", "distance": 25, "noise": 0.004,
                                    "max_shots": 1_000_000},
}


def needs_stim(name):
    if name == "estimate_logical_error_rate" and importlib.util.find_spec("stim") is None:
        pytest.skip("the circuit tool needs stim")


class Server:
    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, "-c", SERVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, preexec_fn=lambda: signal.signal(signal.SIGINT,
                                                                                               signal.SIG_DFL))
        self.buffer = b""

    def send(self, message):
        self.proc.stdin.write((json.dumps(message) + "\n").encode())
        self.proc.stdin.flush()

    def line(self, timeout):
        """The next output line as JSON, or None after `timeout` seconds without one."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                return None
            chunk = self.proc.stdout.read1(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def start_call(self, name):
        """Starts the long call and returns the times of its first progress notices (about two seconds' worth)."""
        self.send({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                   "params": {"name": name, "arguments": CALLS[name], "_meta": {"progressToken": "t"}}})
        notices = []
        while len(notices) < 8:
            message = self.line(30)
            assert message is not None and message.get("method") == "notifications/progress", message
            notices.append(time.monotonic())
        return notices

    def close(self):
        self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


@pytest.fixture
def server():
    s = Server()
    yield s
    s.close()


@pytest.mark.parametrize("name", sorted(CALLS))
def test_progress_about_every_100_ms_and_a_cancel_answered_within_a_second(server, name):
    needs_stim(name)
    notices = server.start_call(name)
    gaps = sorted(b - a for a, b in zip(notices[1:], notices[2:]))
    assert gaps[len(gaps) // 2] < 0.3, gaps
    server.send({"jsonrpc": "2.0", "method": "notifications/cancelled", "params": {"requestId": 1}})
    sent = time.monotonic()
    while (answer := server.line(30)) is not None and answer.get("id") != 1:
        pass
    assert answer is not None and time.monotonic() - sent < 1.5
    server.send({"jsonrpc": "2.0", "id": 2, "method": "ping"})
    assert server.line(10) == {"jsonrpc": "2.0", "id": 2, "result": {}}


@pytest.mark.parametrize("signum, status", [(signal.SIGTERM, 128 + signal.SIGTERM), (signal.SIGINT, 130)])
def test_a_signal_cancels_the_running_call_and_ends_the_server_within_a_second(server, signum, status):
    name = "estimate_logical_error_rate" if importlib.util.find_spec("stim") else "benchmark_decoder"
    server.start_call(name)
    sent = time.monotonic()
    server.proc.send_signal(signum)
    assert server.proc.wait(timeout=30) == status
    assert time.monotonic() - sent < 1.5
