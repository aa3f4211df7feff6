"""Tool server over stdio: requests per second for small decode calls, and
how long a cancelled long call takes to answer.

Throughput (row mcp_decode_rep<n>): N "decode_syndrome" calls on a
repetition code of n qubits with seeded random syndromes, pipelined into one
server process (written by one thread while another reads the answers);
rate = answers per second from the first line sent to the last answer read
(the server already up).
Reference: the same syndromes decoded in this process by
UnionFindDecoder(checks).decode, each from a freshly built decoder as the
tool does; ratio = server rate / in-process rate (the share of the
server's cost that is decoding). Goal: above 10,000 requests/s at n = 25.

Cancel latency (row mcp_cancel): a "benchmark_decoder" call of a million
samples (about a minute of work) with a progress token; once its first
progress notification arrives, notifications/cancelled is sent and the
time to the call's answer (error -32800) is measured, over several calls.
Goal: under 10 ms at the median.

    PYTHONPATH=build/<dir> python3 bench/mcp_server_bench.py [--requests N] [--cancels K]
"""
import argparse
import io
import json
import statistics
import subprocess
import sys
import threading
import time

import numpy as np

import vornex_decoder_v3 as vx

SERVER = "import vornex_decoder_v3 as vx; vx.run_mcp_server()"


def start_server():
    return subprocess.Popen([sys.executable, "-c", SERVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            bufsize=0)


def decode_requests(n_qubits, count, seed):
    checks, _ = vx.py_generate_repetition_code_checks(n_qubits)
    rng = np.random.default_rng(seed)
    syndromes = rng.integers(0, 2, (count, len(checks)), dtype=np.uint8)
    lines = [json.dumps({"jsonrpc": "2.0", "id": i, "method": "tools/call", "params": {
        "name": "decode_syndrome", "arguments": {"check_to_qubits": checks, "syndrome": s.tolist()}}})
        for i, s in enumerate(syndromes)]
    return checks, syndromes, ("\n".join(lines) + "\n").encode()


def server_rate(payload, count):
    proc = start_server()
    # The clock starts once the server answers, so interpreter start-up is not counted.
    proc.stdin.write(b'{"jsonrpc":"2.0","id":"ready","method":"ping"}\n')
    proc.stdout.readline()
    writer = threading.Thread(target=lambda: (proc.stdin.write(payload), proc.stdin.close()))
    start = time.perf_counter()
    writer.start()
    # A buffered reader, as MCP clients read: line iteration over the raw
    # (unbuffered) pipe reads one byte per system call and caps the rate on
    # the client side.
    answers = io.BufferedReader(proc.stdout, 1 << 16)
    answered = sum(1 for _ in zip(range(count), answers))
    elapsed = time.perf_counter() - start
    writer.join()
    proc.wait()
    assert answered == count
    return count / elapsed


def in_process_rate(checks, syndromes):
    start = time.perf_counter()
    for s in syndromes:
        vx.UnionFindDecoder(checks, None).decode(s)
    return len(syndromes) / (time.perf_counter() - start)


def cancel_latencies(calls):
    proc = start_server()
    latencies = []
    for i in range(calls):
        proc.stdin.write((json.dumps({"jsonrpc": "2.0", "id": i, "method": "tools/call", "params": {
            "name": "benchmark_decoder", "_meta": {"progressToken": i},
            "arguments": {"check_to_qubits": [[0, 1], [1, 2]], "n_samples": 1_000_000}}}) + "\n").encode())
        assert json.loads(proc.stdout.readline())["method"] == "notifications/progress"
        sent = time.perf_counter()
        proc.stdin.write((json.dumps({"jsonrpc": "2.0", "method": "notifications/cancelled",
                                      "params": {"requestId": i}}) + "\n").encode())
        while True:
            answer = json.loads(proc.stdout.readline())
            if answer.get("id") == i:
                break
        latencies.append(time.perf_counter() - sent)
        assert answer["error"]["code"] == -32800
    proc.stdin.close()
    proc.wait()
    return latencies


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--requests", type=int, default=10_000)
    parser.add_argument("--cancels", type=int, default=10)
    args = parser.parse_args()
    print(f"{'row':<22}{'server req/s':>14}{'in-process/s':>14}{'ratio':>8}")
    for n in (5, 25, 101):
        checks, syndromes, payload = decode_requests(n, args.requests, seed=n)
        ours = max(server_rate(payload, args.requests) for _ in range(2))
        ref = max(in_process_rate(checks, syndromes) for _ in range(2))
        print(f"{'mcp_decode_rep' + str(n):<22}{ours:>14,.0f}{ref:>14,.0f}{ours / ref:>8.2f}")
    lat = cancel_latencies(args.cancels)
    print(f"mcp_cancel: median {statistics.median(lat) * 1e3:.2f} ms, max {max(lat) * 1e3:.2f} ms over {len(lat)} calls")


if __name__ == "__main__":
    main()
