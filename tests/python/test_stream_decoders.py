"""SlidingWindowDecoder and StreamingDecoder: windows, rings, state and messages."""
import math

import numpy as np
import pytest

import vornex_decoder_v3 as vx

CHAIN = [[0, 1], [1, 2]]
FIRED = np.array([1, 0], dtype=np.uint8)
QUIET = np.array([0, 0], dtype=np.uint8)
FIXED = [1, 0, 0]  # correction of FIRED on CHAIN
ZERO = [0, 0, 0]


def test_sliding_defaults_and_construction_errors():
    d = vx.SlidingWindowDecoder(CHAIN)
    assert (d.window_size, d.decay_factor, d.current_round, d.n_qubits, d.n_checks) == (10, 0.8, 0, 3, 2)
    assert vx.SlidingWindowDecoder.__text_signature__ == (
        "(check_to_qubits, n_qubits=None, window_size=10, decay_factor=0.8)")
    assert vx.SlidingWindowDecoder(CHAIN, n_qubits=6, window_size=3, decay_factor=1).n_qubits == 6
    with pytest.raises(ValueError):
        vx.SlidingWindowDecoder(CHAIN, window_size=0, decay_factor=7.0)
    for bad in (1.5, -0.1, math.nan):
        with pytest.raises(ValueError):
            vx.SlidingWindowDecoder(CHAIN, decay_factor=bad)
    with pytest.raises(ValueError):
        vx.SlidingWindowDecoder([], decay_factor=1.0)
    with pytest.raises(TypeError):
        vx.SlidingWindowDecoder(CHAIN, window_size=None)
    with pytest.raises(OverflowError):
        vx.SlidingWindowDecoder(CHAIN, window_size=-1)


def test_sliding_default_window_fades_a_lone_flash():
    d = vx.SlidingWindowDecoder(CHAIN)
    assert d.update(FIRED).tolist() == FIXED
    for _ in range(3):
        assert d.update(QUIET).tolist() == FIXED
    assert d.update(QUIET).tolist() == ZERO


def test_sliding_extreme_parameters():
    rng = np.random.default_rng(0)
    one = vx.SlidingWindowDecoder(CHAIN, window_size=1)
    newest = vx.SlidingWindowDecoder(CHAIN, decay_factor=0.0)
    for _ in range(50):
        r = rng.integers(0, 2, 2, dtype=np.uint8)
        assert np.array_equal(one.update(r), one.decode(r))
        assert np.array_equal(newest.update(r), newest.decode(r))
    anywhere = vx.SlidingWindowDecoder(CHAIN, window_size=5, decay_factor=1.0)
    anywhere.update(FIRED)
    for _ in range(4):
        assert anywhere.update(QUIET).tolist() == FIXED
    assert anywhere.update(QUIET).tolist() == ZERO


def test_sliding_rounds_flush_and_failed_updates():
    d = vx.SlidingWindowDecoder(CHAIN)
    for _ in range(12):
        d.update(QUIET)
    assert d.current_round == 12
    with pytest.raises(ValueError):
        d.update(np.zeros(3, np.uint8))
    with pytest.raises(ValueError):
        d.decode(np.zeros(0, np.uint8))
    with pytest.raises(ValueError, match=r"^Invalid syndrome: The given array is not contiguous or is misaligned\.$"):
        d.update(np.zeros(4, np.uint8)[::2])
    assert d.current_round == 12
    d.decode(FIRED)
    assert d.current_round == 12
    assert d.flush() is None
    assert d.current_round == 0


def test_streaming_ring():
    d = vx.StreamingDecoder(CHAIN, None, None)
    assert vx.StreamingDecoder.__text_signature__ == "(check_to_qubits, n_qubits, history_size)"
    assert (d.n_qubits, d.n_checks) == (3, 2)
    assert d.update(FIRED).tolist() == FIXED
    for _ in range(9):
        assert d.update(QUIET).tolist() == FIXED
    assert d.update(QUIET).tolist() == ZERO
    d.update(FIRED)
    d.flush()
    assert d.update(QUIET).tolist() == ZERO


def test_streaming_failed_update_keeps_the_ring():
    d = vx.StreamingDecoder(CHAIN, None, 2)
    d.update(FIRED)
    with pytest.raises(ValueError):
        d.update(np.zeros(1, np.uint8))
    assert d.decode(QUIET).tolist() == ZERO
    assert d.update(QUIET).tolist() == FIXED  # FIRED is still one of the two newest
    assert d.update(QUIET).tolist() == ZERO


def test_streaming_rejects_an_empty_ring():
    with pytest.raises(ValueError):
        vx.StreamingDecoder(CHAIN, None, 0)
    with pytest.raises(TypeError):
        vx.StreamingDecoder(CHAIN, None)

