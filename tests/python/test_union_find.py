"""UnionFindDecoder and BatchDecoder, and every Union-Find class and batch
method against the plain reference decoder."""
import os
import subprocess
import sys
import threading

import numpy as np
import pytest

import vornex_decoder_v3 as vx
from codes import NOT_CONTIGUOUS, error_text, rotated_sector_top_bottom
from test_union_find_helpers import random_code, reference_decode, standard_codes, syndromes

CLASSES = [vx.UnionFindDecoder, vx.FastUnionFindDecoder, vx.BatchDecoder, vx.CPUBatchDecoder]
BATCH_METHODS = [
    (vx.UnionFindDecoder, "batch_decode"),
    (vx.FastUnionFindDecoder, "batch_decode"),
    (vx.BatchDecoder, "parallel_batch_decode"),
    (vx.BatchDecoder, "batch_decode"),
    (vx.CPUBatchDecoder, "batch_decode_simd"),
    (vx.CPUBatchDecoder, "batch_decode_pooled"),
    (vx.CPUBatchDecoder, "batch_decode_par"),
]
SINGLE_METHODS = [vx.UnionFindDecoder, vx.FastUnionFindDecoder, vx.CPUBatchDecoder]


def all_outputs(checks, n_qubits, batch):
    """Every batch method's result and every single decode stacked as rows."""
    outs = {}
    for cls, name in BATCH_METHODS:
        outs[f"{cls.__name__}.{name}"] = getattr(cls(checks, n_qubits), name)(batch)
    for cls in SINGLE_METHODS:
        dec = cls(checks, n_qubits)
        rows = [dec.decode(np.ascontiguousarray(row)) for row in batch]
        outs[f"{cls.__name__}.decode"] = np.array(rows, dtype=np.uint8).reshape(len(batch), -1)
    return outs


def test_every_class_and_method_matches_the_reference():
    rng = np.random.default_rng(31)
    cases = [(c, n, syndromes(rng, c, n, 40)) for c, n in standard_codes()]
    for _ in range(60):
        c, n = random_code(rng)
        cases.append((c, n, rng.integers(0, 4, (12, len(c)), dtype=np.uint8)))
    for checks, n_qubits, batch in cases:
        want = np.array([reference_decode(checks, n_qubits, s) for s in batch], dtype=np.uint8)
        for name, got in all_outputs(checks, n_qubits, batch).items():
            assert got.dtype == np.uint8 and got.shape == (len(batch), n_qubits), name
            assert np.array_equal(got, want), (name, checks)


def test_worked_examples():
    dec = vx.UnionFindDecoder([[0, 1], [1, 2]], 3)
    cases = {(0, 0): [0, 0, 0], (1, 0): [1, 0, 0], (1, 1): [0, 1, 0], (0, 1): [0, 0, 1], (2, 3): [0, 0, 1]}
    for s, want in cases.items():
        assert dec.decode(np.array(s, dtype=np.uint8)).tolist() == want


def test_long_chain_defect_reaches_the_boundary():
    n = 60  # qubit 0 alone in check 0, qubit i in checks i-1 and i
    checks = [[i, i + 1] for i in range(n - 1)] + [[n - 1]]
    s = np.zeros(n, dtype=np.uint8)
    s[-1] = 1
    for cls in SINGLE_METHODS:
        assert cls(checks, n).decode(s).tolist() == [1] * n


def test_attributes_and_results():
    for cls in CLASSES:
        assert cls([[0, 1]], None).n_qubits == 2
        dec = cls([[0, 1]], 5)
        assert (dec.n_qubits, dec.n_checks) == (5, 1)
    out = vx.UnionFindDecoder([[0, 1]], 5).decode(np.zeros(1, dtype=np.uint8))
    assert out.tolist() == [0] * 5
    assert out.flags.c_contiguous and out.flags.writeable and out.flags.owndata is False
    big = vx.UnionFindDecoder([[0, 1]], 5).batch_decode(np.ones((3, 1), dtype=np.uint8))
    assert big.shape == (3, 5) and big.flags.c_contiguous and big.flags.writeable


@pytest.mark.parametrize("cls", CLASSES)
def test_constructor_errors(cls):
    cases = [
        ([], None),
        ([[0], []], None),
        ([[0, 1]], 1),
        ([[0, 1]], 0),
        ([[7], [7], [7]], None),
        # The generated surface layouts put every qubit in eight checks.
        vx.py_generate_surface_code_checks(3),
        vx.py_generate_surface_code_checks(2),
    ]
    for args in cases:
        with pytest.raises(ValueError):
            cls(*args)
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        cls("ab", 2)
    with pytest.raises(OverflowError):
        cls([[0, -1]], 2)
    with pytest.raises(OverflowError):
        cls([[0]], -1)
    with pytest.raises(TypeError):
        cls([[0]])


# Each class's prefix for the contiguity failure.
SINGLE_PREFIX = {
    vx.UnionFindDecoder: "Invalid syndrome array: ",
    vx.FastUnionFindDecoder: "Invalid syndrome: ",
    vx.CPUBatchDecoder: "Invalid syndrome: ",
}
BATCH_PREFIX = {vx.UnionFindDecoder: "Invalid syndromes array: "}


@pytest.mark.parametrize("cls", SINGLE_METHODS)
def test_single_decode_errors(cls):
    prefix = SINGLE_PREFIX[cls]
    dec = cls([[0, 1], [1, 2]], 3)
    with pytest.raises(ValueError) as info:
        dec.decode(np.zeros(6, dtype=np.uint8)[::2])
    assert str(info.value) == prefix + NOT_CONTIGUOUS
    with pytest.raises(ValueError):
        dec.decode(np.zeros(3, dtype=np.uint8))
    # An empty array is never refused for its layout, only for its length,
    # as a contiguous empty array is.
    one_check = cls([[0]], 1)
    assert error_text(ValueError, lambda: one_check.decode(np.zeros(4, dtype=np.uint8)[::2][:0])) == (
        error_text(ValueError, lambda: one_check.decode(np.zeros(0, dtype=np.uint8))))
    for bad in ([0, 1], np.zeros(2, dtype=np.int64), np.zeros(2, dtype=bool), np.zeros((1, 2), dtype=np.uint8)):
        with pytest.raises(TypeError):
            dec.decode(bad)


@pytest.mark.parametrize("cls, name", BATCH_METHODS)
def test_batch_errors_and_empty_batches(cls, name):
    dec = cls([[0, 1], [1, 2]], 3)
    method = getattr(dec, name)
    prefix = BATCH_PREFIX.get(cls, "Invalid syndromes: ")
    for arr in (np.array(1, dtype=np.uint8), np.zeros(2, dtype=np.uint8), np.zeros((5, 3), dtype=np.uint8),
                np.zeros((1, 2, 1), dtype=np.uint8)):
        with pytest.raises(ValueError):
            method(arr)
    with pytest.raises(ValueError) as info:
        method(np.zeros((4, 4), dtype=np.uint8)[:, ::2])
    assert str(info.value) == prefix + NOT_CONTIGUOUS
    # Layout is judged before shape.
    with pytest.raises(ValueError) as info:
        method(np.zeros((4, 6), dtype=np.uint8)[:, ::2])
    assert str(info.value) == prefix + NOT_CONTIGUOUS
    for bad in ([[0, 1]], np.zeros((1, 2), dtype=np.int32)):
        with pytest.raises(TypeError):
            method(bad)
    out = method(np.zeros((0, 2), dtype=np.uint8))
    assert out.shape == (0, 3) and out.dtype == np.uint8


@pytest.mark.parametrize("n_shots", [0, 1, 63, 64, 65, 130, 10000])
def test_batch_sizes_agree_with_single_decodes(n_shots):
    rng = np.random.default_rng(n_shots)
    checks, n_qubits = rotated_sector_top_bottom(5)
    batch = syndromes(rng, checks, n_qubits, n_shots, p=0.08)
    single = vx.UnionFindDecoder(checks, n_qubits)
    want = np.array([single.decode(row) for row in batch], dtype=np.uint8).reshape(n_shots, n_qubits)
    for cls, name in BATCH_METHODS:
        assert np.array_equal(getattr(cls(checks, n_qubits), name)(batch), want), (cls, name)


def test_fortran_ordered_batches_are_read_as_rows():
    rng = np.random.default_rng(5)
    checks, n_qubits = rotated_sector_top_bottom(5)
    batch = syndromes(rng, checks, n_qubits, 70, p=0.1)
    fortran = np.asfortranarray(batch)
    for cls, name in BATCH_METHODS:
        dec = cls(checks, n_qubits)
        assert np.array_equal(getattr(dec, name)(fortran), getattr(dec, name)(batch)), (cls, name)


WORKER_SCRIPT = """
import hashlib, sys
import numpy as np
import vornex_decoder_v3 as vx
sys.path.insert(0, {here!r})
from codes import rotated_sector_top_bottom
from test_union_find_helpers import syndromes
checks, n = rotated_sector_top_bottom(9)
batch = syndromes(np.random.default_rng(9), checks, n, 3000, p=0.06)
h = hashlib.sha256()
for cls, name in {methods!r}:
    h.update(getattr(getattr(vx, cls)(checks, n), name)(batch).tobytes())
print(h.hexdigest())
"""


def test_batch_results_do_not_depend_on_the_worker_count():
    here = os.path.dirname(os.path.abspath(__file__))
    methods = [(cls.__name__, name) for cls, name in BATCH_METHODS]
    script = WORKER_SCRIPT.format(here=here, methods=methods)
    digests = set()
    for workers in ("1", "2"):
        env = dict(os.environ, VORNEX_NUM_THREADS=workers)
        done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        digests.add(done.stdout.strip())
    checks, n = rotated_sector_top_bottom(9)
    batch = syndromes(np.random.default_rng(9), checks, n, 3000, p=0.06)
    single = vx.UnionFindDecoder(checks, n)
    want = np.array([single.decode(row) for row in batch], dtype=np.uint8).tobytes()
    import hashlib
    expected = hashlib.sha256()
    for _ in methods:
        expected.update(want)
    assert digests == {expected.hexdigest()}


@pytest.mark.parametrize("cls, name", [(vx.UnionFindDecoder, "batch_decode"), (vx.FastUnionFindDecoder, "batch_decode"),
                                       (vx.CPUBatchDecoder, "batch_decode_par")])
def test_threads_share_one_decoder(cls, name):
    rng = np.random.default_rng(77)
    checks, n_qubits = rotated_sector_top_bottom(7)
    batch = syndromes(rng, checks, n_qubits, 400, p=0.08)
    dec = cls(checks, n_qubits)
    want = getattr(dec, name)(batch)
    failures = []

    def work(seed):
        try:
            for i in range(20):
                if not np.array_equal(getattr(dec, name)(batch), want):
                    failures.append("batch")
                row = (seed * 31 + i) % len(batch)
                if not np.array_equal(dec.decode(batch[row]), want[row]):
                    failures.append("single")
        except BaseException as exc:  # noqa: BLE001 - reported below
            failures.append(repr(exc))

    threads = [threading.Thread(target=work, args=(t,)) for t in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_docstrings_and_signatures():
    assert vx.UnionFindDecoder.__text_signature__ == "(check_to_qubits, n_qubits)"
    assert vx.UnionFindDecoder.decode.__text_signature__ == "($self, syndrome)"
    assert vx.UnionFindDecoder.batch_decode.__text_signature__ == "($self, syndromes)"
    assert vx.BatchDecoder.parallel_batch_decode.__text_signature__ == "($self, syndromes)"
    assert vx.BatchDecoder.batch_decode.__doc__ == (
        "`batch_decode(syndromes: np.ndarray) -> np.ndarray` \u2014 alias for parallel_batch_decode.\n\n"
        "Provided for API consistency with the other batch decoders\n"
        "(`CPUBatchDecoder.batch_decode`, `OpenCLBatchDecoder.batch_decode`, etc.).")
    # Blank descriptions are filled in English; the signature line stays first.
    assert vx.UnionFindDecoder.decode.__doc__.startswith("Decode one syndrome")
