"""The decoders whose results are part of the library's contract give the same
bytes, shot for shot, as when their digests were recorded.

Each decoder runs over seeded syndromes of a few codes (repetition, rotated
surface, a random sparse code); the SHA-256 of every output array is compared
with `defined_digests.json`. Moving code between folders, or turning a decoder
into a preset of a shared engine, must leave these digests alone. After an
intended change of a defined result, regenerate them with

    PYTHONPATH=build/dev python3 tests/python/test_defined_digests.py --write
"""
import hashlib
import json
import pathlib
import sys

import numpy as np

import vornex_decoder_v3 as vx

DIGESTS = pathlib.Path(__file__).with_name("defined_digests.json")


def _random_sparse_code(rng, n_checks, n_qubits, weight):
    return [sorted(rng.choice(n_qubits, size=weight, replace=False).tolist()) for _ in range(n_checks)], n_qubits


def _codes():
    rng = np.random.default_rng(20261208)
    surface = vx.RotatedSurfaceCode(5)
    return {
        "repetition9": vx.py_generate_repetition_code_checks(9),
        "surface5": (surface.z_checks, surface.n_qubits),
        "random_24x40": _random_sparse_code(rng, 24, 40, 4),
    }


def _syndromes(n_checks, shots, seed):
    rng = np.random.default_rng(seed)
    return (rng.random((shots, n_checks)) < 0.12).astype(np.uint8)


def _runs(checks, n_qubits, syndromes):
    """Decoder name -> callable producing the outputs to digest."""
    one = syndromes[0]
    yield "UnionFindDecoder", lambda: vx.UnionFindDecoder(checks, n_qubits).batch_decode(syndromes)
    yield "FastUnionFindDecoder", lambda: vx.FastUnionFindDecoder(checks, n_qubits).batch_decode(syndromes)
    yield "BatchDecoder", lambda: vx.BatchDecoder(checks, n_qubits).batch_decode(syndromes)
    yield "CPUBatchDecoder", lambda: vx.CPUBatchDecoder(checks, n_qubits).batch_decode_par(syndromes)
    yield "BlossomDecoder", lambda: vx.BlossomDecoder(checks, n_qubits, None).batch_decode(syndromes)
    yield "SparseBlossomDecoder", lambda: vx.SparseBlossomDecoder(checks, n_qubits).batch_decode(syndromes)
    yield "BPOSDDecoder", lambda: vx.BPOSDDecoder(checks, n_qubits, 0.05).batch_decode(syndromes)
    yield "BPOSDDecoder.decode", lambda: vx.BPOSDDecoder(checks, n_qubits, 0.05).decode(one)
    yield "BPOSDDecoder.osd_cs", lambda: vx.BPOSDDecoder(
        checks, n_qubits, 0.05, osd_method="osd_cs", osd_order=4, max_iter=10).batch_decode(syndromes[:64])
    yield "LookupTableDecoder", lambda: vx.LookupTableDecoder(checks, n_qubits).batch_decode(syndromes)

    def stream(decoder):
        return np.stack([decoder.decode(row) for row in syndromes[:48]])
    yield "SlidingWindowDecoder", lambda: stream(vx.SlidingWindowDecoder(checks, n_qubits))
    yield "StreamingDecoder", lambda: stream(vx.StreamingDecoder(checks, n_qubits, 3))


def compute():
    digests = {}
    for code_name, (checks, n_qubits) in _codes().items():
        syndromes = _syndromes(len(checks), 300, len(checks))
        for name, run in _runs(checks, n_qubits, syndromes):
            try:
                out = np.ascontiguousarray(run())
                digest = hashlib.sha256(out.tobytes()).hexdigest() + f" {out.shape}"
            except Exception as error:  # a refusal is part of the contract too
                digest = f"{type(error).__name__}: {error}"
            digests[f"{code_name}/{name}"] = digest
    return digests


def test_defined_decoders_keep_their_bytes():
    expected = json.loads(DIGESTS.read_text())
    actual = compute()
    assert sorted(actual) == sorted(expected)
    changed = {key: (expected[key], actual[key]) for key in expected if expected[key] != actual[key]}
    assert not changed


if __name__ == "__main__" and "--write" in sys.argv:
    DIGESTS.write_text(json.dumps(compute(), indent=1, sort_keys=True) + "\n")
