"""Peak memory and time of one matching decode on a long repetition code,
each decoder in its own child process, against the exact MatchingDecoder and
a peer from PyPI (pymatching) on the same syndrome.

Code: py_generate_repetition_code_checks(n) (n qubits, n - 1 checks, both
ends on the boundary); syndrome: E distinct random checks flipped, fixed
seed. Peak is the child's ru_maxrss, so it includes building the code and
the decoder and one warm-up decode of two events (shown separately as
"built"); "decode" is the growth of the peak during the measured call. BlossomDecoder's and SparseBlossomDecoder's
decode growth should follow graph + events (plus the O(events^2) matching
matrix of their defect graph), not events x graph.

    pip install pymatching
    PYTHONPATH=build/<dir> python3 bench/matching_memory_bench.py [--qubits 1000000] [--events 4 2000]
"""
import argparse
import subprocess
import sys
import textwrap

CHILD = textwrap.dedent(
    """
    import resource, sys, time
    import numpy as np
    import vornex_decoder_v3 as vx

    name, n, events = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    checks, n_qubits = vx.py_generate_repetition_code_checks(n)
    syndrome = np.zeros(len(checks), np.uint8)
    syndrome[np.random.default_rng(1).choice(len(checks), events, replace=False)] = 1
    if name == "pymatching":
        import pymatching
        import scipy.sparse
        rows = [c for c, qs in enumerate(checks) for _ in qs]
        cols = [q for qs in checks for q in qs]
        h = scipy.sparse.csc_matrix((np.ones(len(cols), np.uint8), (rows, cols)), shape=(len(checks), n_qubits))
        decode = pymatching.Matching.from_check_matrix(h).decode
    elif name == "BlossomDecoder":
        decode = vx.BlossomDecoder(checks, n_qubits, None).decode
    else:
        decode = getattr(vx, name)(checks, n_qubits).decode
    warm = np.zeros_like(syndrome)
    warm[[10, 20]] = 1
    decode(warm)  # lazy set-up (the peer builds its search graph on the first decode)
    built = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    correction = np.asarray(decode(syndrome), np.uint8)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    ok = np.array_equal(correction[:-1] ^ correction[1:], syndrome)
    print(built / 1024, (peak - built) / 1024, seconds, int(correction.sum()), ok)
    """
)

DECODERS = ["BlossomDecoder", "SparseBlossomDecoder", "MatchingDecoder", "pymatching"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qubits", type=int, default=10**6)
    parser.add_argument("--events", type=int, nargs="+", default=[4, 2000])
    args = parser.parse_args()
    print(f"repetition code, {args.qubits} qubits")
    print(f"{'decoder':22} {'events':>6} {'built MiB':>10} {'decode MiB':>10} {'seconds':>8} "
          f"{'weight':>7} {'valid':>5} {'time/peer':>9}")
    for events in args.events:
        rows = {}
        for name in DECODERS:
            child = subprocess.run([sys.executable, "-c", CHILD, name, str(args.qubits), str(events)],
                                   capture_output=True, text=True)
            if child.returncode != 0:
                print(f"{name:22} {events:>6} failed: {child.stderr.strip().splitlines()[-1]}")
                continue
            built, grown, seconds, weight, ok = child.stdout.split()
            rows[name] = (float(built), float(grown), float(seconds), int(weight), ok)
        peer = rows.get("pymatching", (0, 0, 0.0))[2]
        for name, (built, grown, seconds, weight, ok) in rows.items():
            ratio = f"{seconds / peer:9.1f}" if peer > 0 else f"{'-':>9}"
            print(f"{name:22} {events:>6} {built:10.0f} {grown:10.0f} {seconds:8.3f} {weight:7d} {ok:>5} {ratio}")


if __name__ == "__main__":
    main()
