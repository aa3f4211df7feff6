"""Decodes syndromes of small codes with each decoder family and prints what they return."""
import json

import numpy as np

import vornex_decoder_v3 as vx


def syndromes_of(checks, errors):
    h = np.zeros((len(checks), errors.shape[1]), dtype=np.uint8)
    for c, check in enumerate(checks):
        h[c, check] = 1
    return (errors @ h.T % 2).astype(np.uint8)


def single_shots():
    checks, n_qubits = vx.py_generate_repetition_code_checks(5)
    print(f"repetition code d=5: checks {checks}")
    decoders = {
        "UnionFindDecoder": vx.UnionFindDecoder(checks, n_qubits),
        "BlossomDecoder": vx.BlossomDecoder(checks, n_qubits, None),
        "BPOSDDecoder": vx.BPOSDDecoder(checks, n_qubits, 0.05),
        "LookupTableDecoder": vx.LookupTableDecoder(checks, n_qubits),
    }
    for syndrome in ([0, 0, 0, 0], [1, 0, 0, 0], [0, 1, 1, 0], [0, 0, 0, 1]):
        s = np.array(syndrome, dtype=np.uint8)
        row = "  ".join(f"{name}: {dec.decode(s).tolist()}" for name, dec in decoders.items())
        print(f"  syndrome {syndrome} -> {row}")


def logical_error_rates(d=7, p=0.05, shots=20_000):
    code = vx.RotatedSurfaceCode(d)
    checks, n_qubits = code.z_checks, code.n_qubits
    rng = np.random.default_rng(2026)
    errors = (rng.random((shots, n_qubits)) < p).astype(np.uint8)
    syndromes = syndromes_of(checks, errors)
    # A logical flip: the residual error crosses the patch (odd overlap with the Z logical).
    column = code.z_logical
    print(f"rotated surface sector d={d}, {shots} shots at p={p}:")
    for name, decode in (
        ("UnionFindDecoder.batch_decode", vx.UnionFindDecoder(checks, n_qubits).batch_decode),
        ("BlossomDecoder.batch_decode", vx.BlossomDecoder(checks, n_qubits, None).batch_decode),
        ("CUDABatchDecoder (GPU or CPU)", cuda_or_cpu(checks, n_qubits)),
    ):
        residual = errors ^ decode(syndromes)
        explained = np.array_equal(syndromes_of(checks, residual), np.zeros_like(syndromes))
        rate = (residual[:, column].sum(axis=1) % 2).mean()
        print(f"  {name:<32} logical error rate {rate:.4f}, every syndrome explained: {explained}")


def cuda_or_cpu(checks, n_qubits):
    if vx.cuda_is_available():
        return vx.CUDABatchDecoder(checks, n_qubits).batch_decode
    return vx.CPUBatchDecoder(checks, n_qubits).batch_decode_simd


def latency_report():
    checks, n_qubits = vx.py_generate_surface_code_checks(5)
    report = json.loads(vx.BenchmarkSuite(checks, n_qubits, 500, 7).run())
    print(f"BlossomDecoder latency on the periodic d=5 layout: {json.dumps(report)[:160]}...")


def main():
    print(f"vornex_decoder_v3 {vx.__version__}, GPU available: {vx.cuda_is_available()}")
    single_shots()
    logical_error_rates()
    latency_report()


if __name__ == "__main__":
    main()
