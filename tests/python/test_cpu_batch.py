"""CPUBatchDecoder: its documented texts and the blocked decode's edges."""
import numpy as np

import vornex_decoder_v3 as vx
from codes import rotated_sector_top_bottom
from test_union_find_helpers import syndromes


def test_docstrings():
    cls = vx.CPUBatchDecoder
    assert cls.__text_signature__ == "(check_to_qubits, n_qubits)"
    assert cls.decode.__doc__ == "`decode(syndrome: np.ndarray) -> np.ndarray` \u2014 single-syndrome decode."
    assert cls.batch_decode_simd.__doc__ == "`batch_decode_simd(syndromes: np.ndarray) -> np.ndarray`"
    assert cls.batch_decode_pooled.__doc__ == (
        "`batch_decode_pooled(syndromes: np.ndarray) -> np.ndarray`\n"
        "Internally allocates the buffer pool and output \u2014 convenient Python API.")
    assert cls.batch_decode_par.__doc__ == "`batch_decode_par(syndromes: np.ndarray) -> np.ndarray`"
    for name in ("batch_decode_simd", "batch_decode_pooled", "batch_decode_par"):
        assert getattr(cls, name).__text_signature__ == "($self, syndromes)"


def test_blocks_around_every_lane_and_wide_codes():
    # 40 checks cover two 16-check tiles plus a remainder and eight-check gathers.
    rng = np.random.default_rng(2024)
    for checks, n_qubits in (rotated_sector_top_bottom(9), rotated_sector_top_bottom(3), ([[0]], 1)):
        batch = syndromes(rng, checks, n_qubits, 64 * 3 + 17, p=0.1)
        dec = vx.CPUBatchDecoder(checks, n_qubits)
        want = np.array([dec.decode(row) for row in batch], dtype=np.uint8)
        assert np.array_equal(dec.batch_decode_simd(batch), want)
        assert np.array_equal(dec.batch_decode_pooled(batch), want)
        assert np.array_equal(dec.batch_decode_par(batch), want)


def test_input_is_never_written():
    rng = np.random.default_rng(1)
    checks, n_qubits = rotated_sector_top_bottom(5)
    batch = syndromes(rng, checks, n_qubits, 130, p=0.1)
    before = batch.copy()
    dec = vx.CPUBatchDecoder(checks, n_qubits)
    dec.batch_decode_simd(batch)
    dec.batch_decode_pooled(batch)
    dec.decode(batch[0])
    assert np.array_equal(batch, before)
