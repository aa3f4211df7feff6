"""NeuralPredecoder: sizes, reproducible initial weights, training, exact messages."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import NOT_CONTIGUOUS, error_text


def test_sizes_defaults_and_signatures():
    net = vx.NeuralPredecoder(7, 4, None, None)
    assert (net.n_input, net.n_output, net.n_hidden1, net.n_hidden2) == (7, 4, 5, 5)
    assert vx.NeuralPredecoder(n_input=3, n_output=2, n_hidden1=8, n_hidden2=None).n_hidden2 == 2
    assert vx.NeuralPredecoder.__text_signature__ == "(n_input, n_output, n_hidden1, n_hidden2)"
    assert vx.NeuralPredecoder.train.__text_signature__ == (
        "($self, syndromes, corrections, n_epochs, learning_rate, *, progress=None)")
    with pytest.raises(TypeError):
        vx.NeuralPredecoder(7, 4, None)
    with pytest.raises(OverflowError):
        vx.NeuralPredecoder(-1, 4, None, None)


def test_equal_sizes_give_equal_networks_and_fresh_outputs_are_one_half():
    rng = np.random.default_rng(1)
    a, b = vx.NeuralPredecoder(6, 3, 5, 4), vx.NeuralPredecoder(6, 3, 5, 4)
    for _ in range(20):
        s = rng.integers(0, 2, 6, dtype=np.uint8)
        assert np.array_equal(a.predict(s), b.predict(s))
    probs = a.predict(np.zeros(6, np.uint8))
    assert probs.dtype == np.float64 and probs.shape == (3,)
    assert np.all(probs == 0.5)
    decoded = a.decode(np.zeros(6, np.uint8))
    assert decoded.dtype == np.uint8 and decoded.tolist() == [1, 1, 1]
    # A byte of 2 is fed as 2.0, so it differs from 1.
    one, two = np.zeros(6, np.uint8), np.zeros(6, np.uint8)
    one[0], two[0] = 1, 2
    assert not np.array_equal(a.predict(one), a.predict(two))


def test_training_learns_single_flips_of_a_repetition_code():
    syndromes, corrections = [], []
    for q in range(5):
        syndromes.append([int(c == q or c + 1 == q) for c in range(4)])
        corrections.append([int(k == q) for k in range(5)])
    syndromes = np.array(syndromes, np.uint8)
    corrections = np.array(corrections, np.uint8)
    net = vx.NeuralPredecoder(4, 5, 16, 16)
    assert net.train(syndromes, corrections, 400, 0.05) is None
    for s, c in zip(syndromes, corrections):
        assert net.decode(s).tolist() == c.tolist()


def test_training_reads_flat_elements_and_ignores_a_partial_sample():
    net, ref = vx.NeuralPredecoder(4, 2, 3, 3), vx.NeuralPredecoder(4, 2, 3, 3)
    probe = np.array([1, 0, 1, 1], np.uint8)
    # 10 elements are two samples; the last two are ignored.
    net.train(np.arange(10, dtype=np.uint8) % 2, np.ones(4, np.uint8), 1, 0.1)
    ref.train(np.array([[0, 1, 0, 1], [0, 1, 0, 1]], np.uint8), np.ones((2, 2), np.uint8), 1, 0.1)
    assert np.array_equal(net.predict(probe), ref.predict(probe))
    untouched = vx.NeuralPredecoder(4, 2, 3, 3)
    net2 = vx.NeuralPredecoder(4, 2, 3, 3)
    net2.train(np.ones(3, np.uint8), np.zeros(0, np.uint8), 5, 0.1)
    net2.train(np.ones(8, np.uint8), np.ones(4, np.uint8), 0, 0.1)
    assert np.array_equal(net2.predict(probe), untouched.predict(probe))


def test_errors():
    net = vx.NeuralPredecoder(4, 2, 3, 3)
    with pytest.raises(ValueError):
        net.predict(np.zeros(3, np.uint8))
    with pytest.raises(ValueError):
        net.decode(np.zeros(5, np.uint8))
    assert error_text(ValueError, lambda: net.predict(np.zeros(8, np.uint8)[::2])) == (
        "Invalid syndrome: " + NOT_CONTIGUOUS)
    assert error_text(ValueError, lambda: net.train(np.zeros(16, np.uint8)[::2], np.zeros(4, np.uint8), 1, 0.1)) == (
        "Invalid syndromes: " + NOT_CONTIGUOUS)
    assert error_text(ValueError, lambda: net.train(np.zeros(8, np.uint8), np.zeros(8, np.uint8)[::2], 1, 0.1)) == (
        "Invalid corrections: " + NOT_CONTIGUOUS)
    before = net.predict(np.ones(4, np.uint8))
    # Caller mistakes are ValueErrors naming the argument, not internal assertions.
    with pytest.raises(ValueError):
        net.train(np.zeros(8, np.uint8), np.zeros(3, np.uint8), 1, 0.1)
    with pytest.raises(ValueError):
        vx.NeuralPredecoder(0, 2, 1, 1).train(np.zeros(4, np.uint8), np.zeros(0, np.uint8), 1, 0.1)
    # Epoch counts that cannot finish are refused before the first step.
    for epochs in (2**31, 2**62):
        with pytest.raises(ValueError):
            net.train(np.zeros(8, np.uint8), np.zeros(4, np.uint8), epochs, 0.1)
    assert np.array_equal(net.predict(np.ones(4, np.uint8)), before)
    with pytest.raises(TypeError):
        net.predict([0, 0, 0, 0])
    with pytest.raises(TypeError):
        net.predict(np.zeros(4, np.int64))
    # Matrices that together exceed memory are refused before any is built.
    with pytest.raises(ValueError):
        vx.NeuralPredecoder(100000, 100000, None, None)
