"""Decodes a few syndromes of small codes and prints what each decoder returns."""
import numpy as np

import vornex_decoder_v3 as vx


def show(name, decoder, syndromes):
    for syndrome in syndromes:
        correction = decoder.decode(np.asarray(syndrome, dtype=np.uint8))
        print(f"  {name:<22} syndrome {list(syndrome)} -> correction {correction.tolist()}")


def main():
    print(f"vornex_decoder_v3 {vx.__version__}")
    checks, n_qubits = vx.py_generate_repetition_code_checks(5)
    print(f"repetition code d=5: checks {checks}, n_qubits {n_qubits}")
    syndromes = [[0, 0, 0, 0], [1, 0, 0, 0], [0, 1, 1, 0], [0, 0, 0, 1]]
    for name in ("UnionFindDecoder", "FastUnionFindDecoder", "LookupTableDecoder"):
        cls = getattr(vx, name, None)
        if cls is not None:
            show(name, cls(checks, n_qubits), syndromes)
    if hasattr(vx, "BlossomDecoder"):
        show("BlossomDecoder", vx.BlossomDecoder(checks, n_qubits, None), syndromes)
    if hasattr(vx, "BPOSDDecoder"):
        show("BPOSDDecoder", vx.BPOSDDecoder(checks, n_qubits, 0.05), syndromes)

    if hasattr(vx, "UnionFindDecoder"):
        rng = np.random.default_rng(7)
        batch = (rng.random((100_000, len(checks))) < 0.1).astype(np.uint8)
        corrections = vx.UnionFindDecoder(checks, n_qubits).batch_decode(batch)
        print(f"batch of {batch.shape[0]} syndromes decoded on the worker pool -> {corrections.shape}")


if __name__ == "__main__":
    main()
