"""BPOSDDecoder from Python: results, soft output, budget and exact messages."""
import math

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import NOT_CONTIGUOUS, parity_matrix

CHAIN = [[0, 1], [1, 2], [2, 3]]


def u8(values):
    return np.array(values, dtype=np.uint8)


def test_signatures_and_attributes():
    assert vx.BPOSDDecoder.__text_signature__ == (
        "(check_to_qubits, n_qubits, error_rate, *, error_channel=None, max_iter=50, bp_method='minimum_sum', "
        "ms_scaling_factor=1.0, schedule='parallel', stop='posterior', osd_method='osd_0', osd_order=0)"
    )
    assert vx.BPOSDDecoder.decode.__text_signature__ == "($self, syndrome)"
    assert vx.BPOSDDecoder.decode_timed.__text_signature__ == "($self, syndrome, max_latency_ms)"
    assert vx.BPOSDDecoder.bp_decode.__text_signature__ == "($self, syndrome, max_iterations)"
    dec = vx.BPOSDDecoder(CHAIN, None, 0.1)
    assert (dec.n_qubits, dec.n_checks) == (4, 3)
    assert vx.BPOSDDecoder([], None, 0.1).n_qubits == 1
    assert vx.BPOSDDecoder(CHAIN, 9, 0.1).n_qubits == 9


def test_surface_layout_corrections_reproduce_the_syndrome():
    checks, n = vx.py_generate_surface_code_checks(5)
    h = parity_matrix(checks, n)
    dec = vx.BPOSDDecoder(checks, n, 0.05)
    rng = np.random.default_rng(4)
    for _ in range(100):
        error = (rng.random(n) < 0.05).astype(np.uint8)
        syndrome = (h @ error % 2).astype(np.uint8)
        for correction in (dec.decode(syndrome), dec.decode_timed(syndrome, 1e6)):
            assert correction.dtype == np.uint8 and correction.shape == (n,)
            assert np.array_equal(h @ correction % 2, syndrome)
    assert not dec.decode(np.zeros(len(checks), np.uint8)).any()


def test_soft_output_prior_cap_and_clamp():
    s = u8([1, 0, 1])
    post = vx.BPOSDDecoder(CHAIN, None, 0.1).bp_decode(s, 0)
    assert post.dtype == np.float64 and post.shape == (4,)
    assert np.all(post == math.log(0.9 / 0.1))
    assert vx.BPOSDDecoder(CHAIN, None, 0.0).bp_decode(s, 0)[0] == pytest.approx(23.02585, abs=1e-5)
    assert vx.BPOSDDecoder(CHAIN, None, 1.0).bp_decode(s, 0)[0] == pytest.approx(-23.02585, abs=1e-5)
    dec = vx.BPOSDDecoder(*vx.py_generate_surface_code_checks(3), 0.1)
    s = np.zeros(dec.n_checks, np.uint8)
    s[[0, 4]] = 1
    assert np.array_equal(dec.bp_decode(s, 1000), dec.bp_decode(s, 50))
    # The posterior of a fired check's qubits turns towards a flip.
    chain = vx.BPOSDDecoder(CHAIN, None, 0.1).bp_decode(u8([1, 0, 0]), 50)
    assert chain[0] < 0 < chain[3]


def test_messages_fire_on_byte_one_while_osd_reads_bit_zero():
    dec = vx.BPOSDDecoder(CHAIN, None, 0.1)
    assert np.array_equal(dec.bp_decode(u8([3, 0, 2]), 50), dec.bp_decode(u8([0, 0, 0]), 50))
    # BP sees nothing, yet the correction must still explain bit 0 of the 3.
    correction = dec.decode(u8([3, 0, 2]))
    assert (parity_matrix(CHAIN, 4).astype(int) @ correction % 2).tolist() == [1, 0, 0]


def test_zero_budget_orders_by_the_prior():
    # With every posterior equal, OSD solves on qubits 0, 1, 2 in index
    # order: q2 = 1 from the last check, then q1 = 1 and q0 = 0.
    dec = vx.BPOSDDecoder(CHAIN, None, 0.1)
    assert dec.decode_timed(u8([1, 0, 1]), 0.0).tolist() == [0, 1, 1, 0]
    assert dec.decode_timed(u8([1, 0, 1]), -5.0).tolist() == [0, 1, 1, 0]


def test_inconsistent_syndrome_returns_the_hard_decision():
    # Two identical checks cannot disagree; OSD fails and BP's signs decide.
    dec = vx.BPOSDDecoder([[0, 1], [0, 1]], None, 0.1)
    s = u8([1, 0])
    post = dec.bp_decode(s, 50)
    assert dec.decode(s).tolist() == (post < 0).astype(np.uint8).tolist()


def test_errors():
    dec = vx.BPOSDDecoder(CHAIN, None, 0.1)
    for method, extra in ((dec.decode, ()), (dec.decode_timed, (1.0,)), (dec.bp_decode, (5,))):
        with pytest.raises(ValueError):
            method(u8([0, 0, 0, 0]), *extra)
        with pytest.raises(ValueError):
            method(u8([]), *extra)
        with pytest.raises(ValueError) as info:
            method(np.zeros(6, np.uint8)[::2], *extra)
        assert str(info.value) == "Invalid syndrome: " + NOT_CONTIGUOUS
        for bad in ([0, 0, 0], np.zeros(3, np.int64), np.zeros(3, bool), np.zeros((1, 3), np.uint8)):
            with pytest.raises(TypeError):
                method(bad, *extra)
    with pytest.raises(OverflowError):
        dec.bp_decode(u8([0, 0, 0]), -1)
    with pytest.raises(TypeError):
        vx.BPOSDDecoder(CHAIN, None, "high")
    with pytest.raises(TypeError):
        vx.BPOSDDecoder(CHAIN, None)
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        vx.BPOSDDecoder("ab", None, 0.1)


def test_single_flips_on_a_chain_are_not_turned_into_logical_errors():
    checks, n = vx.py_generate_repetition_code_checks(5)
    dec = vx.BPOSDDecoder(checks, n, 0.05)
    for q in range(n):
        error = np.zeros(n, dtype=np.uint8)
        error[q] = 1
        syndrome = np.array([error[i] ^ error[i + 1] for i in range(n - 1)], dtype=np.uint8)
        assert dec.decode(syndrome).tolist() == error.tolist()


def test_declared_qubit_counts_are_checked_against_the_memory_budget():
    # Two checks of one qubit declaring 2**31 columns: refused before any per-column array is taken,
    # by the defined decoder, with settings, and by Relay-BP.
    for build in (lambda: vx.BPOSDDecoder([[0], [1]], 1 << 31, 0.1),
                  lambda: vx.BPOSDDecoder([[0], [1]], 1 << 31, 0.1, max_iter=10),
                  lambda: vx.RelayBPDecoder([[0], [1]], 1 << 31, 0.1)):
        with pytest.raises(MemoryError, match="^the check list declares 2147483648 qubits; belief propagation"):
            build()
