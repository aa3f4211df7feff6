"""Ctrl-C during long native calls: a child process gets SIGINT in the middle
of each call, which must end with KeyboardInterrupt within 2 s and leave the
object usable."""
import sys
import time

import pytest

import vornex_decoder_v3 as vx
from signalled_child import interrupted_when_ready

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")


PRELUDE = """
import sys, time
import numpy as np
import vornex_decoder_v3 as vx
"""

# Each case: setup, then the long call (well over 2 s uninterrupted), then a
# check that the object still works, printing "usable".
CASES = {
    "batch_decode": (
        "code = vx.RotatedSurfaceCode(9)\n"
        "syndromes = (np.random.default_rng(1).random((2_000_000, len(code.z_checks))) < 0.1).astype(np.uint8)\n"
        "decoder = vx.UnionFindDecoder(code.z_checks, code.n_qubits)\n",
        "decoder.batch_decode(syndromes)",
        "assert decoder.batch_decode(syndromes[:5]).shape == (5, code.n_qubits); print('usable')",
    ),
    "build_table": (
        "checks, n = vx.py_generate_repetition_code_checks(200)\n"
        "table = vx.LookupTableDecoder(checks, n)\n",
        "table.build_table(10_000_000)",
        "assert table.table_size > 0\n"
        "s = np.zeros(len(checks), np.uint8); s[3] = 1\n"
        "assert table.decode(s).sum() > 0; print('usable', table.table_size)",
    ),
    "HybridDecoder.train": (
        "code = vx.RotatedSurfaceCode(5)\n"
        "decoder = vx.HybridDecoder(code.z_checks, code.n_qubits, gnn_hidden_size=32, gnn_n_layers=2, seed=1)\n",
        "decoder.train(100, 100_000, 0.05)",
        "s = np.zeros(len(code.z_checks), np.uint8); s[4] = 1\n"
        "assert decoder.decode_hybrid(s).shape == (code.n_qubits,); print('usable')",
    ),
    # Interrupted while its dataset is still being built.
    "GNNTrainer.train": (
        "code = vx.RotatedSurfaceCode(21)\n"
        "trainer = vx.GNNTrainer(code.z_checks, code.n_qubits, 0.1)\n"
        "net = vx.GNNPredecoder(vx.DetectorGraph.node_feature_dim(), vx.DetectorGraph.edge_feature_dim(), 8, 1, seed=1)\n",
        "trainer.train(net, 50_000, 1)",
        "assert trainer.generate_dataset(3) == 3; assert trainer.train(net, 3, 1) >= 0; print('usable')",
    ),
    "GNNTrainer.generate_dataset": (
        "code = vx.RotatedSurfaceCode(21)\n"
        "trainer = vx.GNNTrainer(code.z_checks, code.n_qubits, 0.1)\n",
        "trainer.generate_dataset(50_000)",
        "assert trainer.generate_dataset(3) == 3; print('usable')",
    ),
    "BenchmarkSuite.run": (
        "code = vx.RotatedSurfaceCode(7)\n"
        "suite = vx.BenchmarkSuite(code.z_checks, code.n_qubits, 1_000_000, 1)\n",
        "suite.run()",
        "import json\n"
        "small = vx.BenchmarkSuite(code.z_checks, code.n_qubits, 10, 1)\n"
        "assert json.loads(small.run())['n_samples'] == 10; print('usable')",
    ),
    "NeuralPredecoder.train": (
        "net = vx.NeuralPredecoder(24, 25, 64, 64)\n"
        "rng = np.random.default_rng(2)\n"
        "s = rng.integers(0, 2, (2000, 24), dtype=np.uint8); c = rng.integers(0, 2, (2000, 25), dtype=np.uint8)\n",
        "net.train(s, c, 1_000_000, 0.01)",
        "assert np.isfinite(net.predict(s[0])).all(); print('usable')",
    ),
}


def interrupt(setup, call, check):
    script = PRELUDE + setup + (
        "print('ready', flush=True)\n"
        "started = time.monotonic()\n"
        "try:\n"
        f"    {call}\n"
        "    print('finished', time.monotonic() - started)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        f"{check}\n")
    out, err, code, sent = interrupted_when_ready(["-c", script], timeout=60)
    return out, err, code, time.monotonic() - sent


@pytest.mark.parametrize("case", sorted(CASES))
def test_ctrl_c_stops_the_call_and_leaves_the_object_usable(case):
    out, err, code, elapsed = interrupt(*CASES[case])
    assert code == 0, err
    lines = out.splitlines()
    assert lines[0] == "interrupted", out
    assert lines[1].startswith("usable")
    assert elapsed < 2.0


def test_table_build_reports_progress_and_a_raising_callback_stops_it():
    import vornex_decoder_v3 as vx
    checks, n = vx.py_generate_repetition_code_checks(60)
    table = vx.LookupTableDecoder(checks, n)
    reports = []
    table.build_table(300_000, progress=lambda done, total: reports.append((done, total)))
    assert reports[-1] == (300_000, 300_000)
    assert all(total == 300_000 for _, total in reports)
    assert [done for done, _ in reports] == sorted(done for done, _ in reports)

    class Stop(Exception):
        pass

    def stop(done, total):
        raise Stop

    other = vx.LookupTableDecoder(checks, n)
    with pytest.raises(Stop):
        other.build_table(300_000, progress=stop)
    assert 0 < other.table_size < 300_000


def test_training_reports_progress_and_keeps_its_weights_when_stopped():
    import numpy as np
    import vornex_decoder_v3 as vx
    code = vx.RotatedSurfaceCode(3)
    net = vx.GNNPredecoder(vx.DetectorGraph.node_feature_dim(), vx.DetectorGraph.edge_feature_dim(), 8, 1, seed=4)
    trainer = vx.GNNTrainer(code.z_checks, code.n_qubits, 0.1)
    reports = []
    trainer.train(net, 10, 3, progress=lambda done, total: reports.append((done, total)))
    assert reports[-1] == (10 + 6 * 10 * 3, 10 + 6 * 10 * 3)  # the samples, then six learning-rate attempts
    assert [done for done, _ in reports] == sorted(done for done, _ in reports)

    graph = vx.DetectorGraph(code.z_checks, [1, 0, 0, 1])
    fresh = vx.GNNPredecoder(vx.DetectorGraph.node_feature_dim(), vx.DetectorGraph.edge_feature_dim(), 8, 1, seed=4)
    before = fresh.forward(graph)

    def stop(done, total):
        if done > 100:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        trainer.train(fresh, 10, 1000, progress=stop)
    after = fresh.forward(graph)
    assert np.isfinite(after).all()
    assert after != before  # the best weights reached before the stop are kept


def test_progress_true_shows_a_tqdm_bar_that_ends_full(capsys):
    pytest.importorskip("tqdm")
    decoder = vx.LookupTableDecoder([[0, 1], [1, 2], [2, 3], [3, 4]], 5)
    decoder.build_table(100, progress=True)
    shown = capsys.readouterr().err
    assert "32/32" in shown and "100%" in shown
    assert decoder.table_size > 0


def test_progress_true_without_tqdm_names_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    decoder = vx.LookupTableDecoder([[0, 1], [1, 2]], 3)
    with pytest.raises(ImportError, match="tqdm"):
        decoder.build_table(10, progress=True)
    assert decoder.table_size == 0


def test_ler_benchmark_reports_progress_and_a_raising_callback_stops_it():
    import json
    benchmark = vx.LERBenchmark()
    reports = []
    results = json.loads(benchmark.run_all(progress=lambda done, total: reports.append((done, total))))
    total = reports[-1][1]
    assert reports[-1] == (total, total) and all(t == total for _, t in reports)
    assert total > sum(r["shots"] for r in results)  # the training steps count too
    assert [done for done, _ in reports] == sorted(done for done, _ in reports)

    def stop(done, total):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        benchmark.run_all(progress=stop)
    assert len(json.loads(benchmark.run_all())) == len(results)


def test_benchmark_suite_progress_ends_full():
    suite = vx.BenchmarkSuite([[0, 1], [1, 2], [2, 3]], 4, 500, 3)
    reports = []
    suite.run(progress=lambda done, total: reports.append((done, total)))
    assert reports[-1] == (500, 500)
