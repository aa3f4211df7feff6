"""Sweep parts without a cluster: the results file, task ranges and the batch plan."""
import pytest

stim = pytest.importorskip("stim")
sinter = pytest.importorskip("sinter")

from vornex_tools.sweeps.plan import Budget, TaskPlan  # noqa: E402
from vornex_tools.sweeps.progress import SweepProgress, TaskRow, task_labels  # noqa: E402
from vornex_tools.sweeps.results import ResultsFile  # noqa: E402
from vornex_tools.sweeps.tasks import (circuit_file_tasks, generated_tasks, parse_count,  # noqa: E402
                                       parse_int_values, parse_noise_values)


def stats(strong_id, shots, errors):
    return sinter.TaskStats(strong_id=strong_id, decoder="pymatching", json_metadata={"d": 3}, shots=shots,
                            errors=errors, seconds=0.5)


def test_results_file_resumes_whole_rows_and_cuts_a_torn_one(tmp_path):
    path = tmp_path / "results.csv"
    with ResultsFile(path) as results:
        assert results.previous == {} and results.dropped_tail == 0
        results.append(stats("aa", 100, 3))
        results.append(stats("bb", 50, 1))
        results.append(stats("aa", 200, 4))
    whole = path.read_text()
    path.write_text(whole + stats("bb", 999, 999).to_csv_line()[:30])  # a row cut short by a stop
    with ResultsFile(path) as results:
        assert results.dropped_tail == 30
        assert {k: (v.shots, v.errors) for k, v in results.previous.items()} == {"aa": (300, 7), "bb": (50, 1)}
        results.append(stats("bb", 10, 0))
    assert path.read_text() == whole + stats("bb", 10, 0).to_csv_line() + "\n"
    assert {s.strong_id: s.shots for s in sinter.read_stats_from_csv_files(path)} == {"aa": 300, "bb": 60}


def test_results_file_refuses_other_files_untouched(tmp_path):
    path = tmp_path / "notes.txt"
    path.write_text("shots and errors, a note without a newline")
    with pytest.raises(ValueError) as error:
        ResultsFile(path)
    assert str(error.value) == (f"cannot resume from {str(path)!r}: it does not begin with the header "
                                f"{'shots,errors,discards,seconds,decoder,strong_id,json_metadata,custom_counts'!r}")
    assert path.read_text() == "shots and errors, a note without a newline"


def test_ranges_and_their_errors():
    assert parse_int_values("3:11:2,15", "d") == [3, 5, 7, 9, 11, 15]
    assert parse_int_values("4:6", "d") == [4, 5, 6]
    assert parse_noise_values("0.001:0.1:3,0.5") == [0.001, 0.01, 0.1, 0.5]
    assert parse_noise_values("0.002:0.002:1") == [0.002]
    assert parse_count("1e6", "--max-shots") == 1_000_000
    for call, text in [(lambda: parse_int_values("7:3", "d"), "d: range '7:3' is empty"),
                       (lambda: parse_int_values("3,,5", "d"), "d: '3,,5' has an empty value"),
                       (lambda: parse_noise_values("0:0.1:4"),
                        "noise: range '0:0.1:4' needs 0 < low <= high and a count of at least 1"),
                       (lambda: parse_noise_values("1.5"), "noise: '1.5' is not a probability between 0 and 1"),
                       (lambda: parse_count("2.5e0", "--max-errors"), "--max-errors: '2.5e0' is not a whole number >= 0"),
                       (lambda: parse_count("1e999", "n"), "n: '1e999' is not a whole number >= 0"),
                       (lambda: parse_count("-3", "n"), "n: '-3' is not a whole number >= 0")]:
        with pytest.raises(ValueError) as error:
            call()
        assert str(error.value) == text


def test_tasks_from_generated_circuits_and_files(tmp_path):
    tasks = generated_tasks("repetition_code:memory", distances=[3, 5], rounds=["d", "2d", 4], noise=[0.01])
    assert [(t.json_metadata["d"], t.json_metadata["r"]) for t in tasks] == [(3, 3), (3, 6), (3, 4), (5, 5),
                                                                             (5, 10), (5, 4)]
    assert tasks[1].circuit == stim.Circuit.generated(
        "repetition_code:memory", distance=3, rounds=6, after_clifford_depolarization=0.01,
        before_round_data_depolarization=0.01, before_measure_flip_probability=0.01, after_reset_flip_probability=0.01)
    named, plain = tmp_path / "d=3,p=0.01.stim", tmp_path / "plain.stim"
    for path in (named, plain):
        tasks[0].circuit.to_file(path)
    assert [t.json_metadata for t in circuit_file_tasks([named, plain])] == [{"d": 3, "p": 0.01},
                                                                            {"path": str(plain)}]
    with pytest.raises(ValueError, match="^cannot read circuit '.*missing.stim': No such file or directory$"):
        circuit_file_tasks([tmp_path / "missing.stim"])
    (tmp_path / "bad.stim").write_text("H 0\nNOT_A_GATE 1\n")
    with pytest.raises(ValueError, match="^circuit '.*bad.stim': .*NOT_A_GATE"):
        circuit_file_tasks([tmp_path / "bad.stim"])


def test_plan_sends_exactly_the_shots_left_and_measures_first():
    plan = TaskPlan(Budget(max_shots=1000, max_errors=None, fixed_batch_shots=300), shots=100)
    sent = []
    while plan.wants_batch():
        sent.append(plan.next_batch_shots())
        plan.sent(sent[-1])
    assert sent == [300, 300, 300]
    plan.lost(300)  # a batch given up on is sent again
    assert plan.wants_batch() and plan.next_batch_shots() == 300

    fresh = TaskPlan(Budget(max_shots=None, max_errors=50))
    assert fresh.next_batch_shots() == 100
    fresh.sent(100)
    assert not fresh.wants_batch()  # the first batch runs alone
    fresh.counted(100, 0, 0.001)
    assert fresh.next_batch_shots() == 400  # no errors yet: grows step by step, however fast
    fresh.sent(400)
    fresh.counted(400, 10, 0.004)
    # 10 errors in 500 shots, 40 to go among 4 parallel batches: about 40 / 0.02 / 4 shots each.
    assert fresh.next_batch_shots(parallel_batches=4) == 500
    fresh.sent(2000)
    assert not fresh.wants_batch()  # the batches in flight should bring the rest


class Clock:
    def __init__(self):
        self.now = 100.0

    def __call__(self):
        return self.now


def test_progress_lines_live_and_as_a_log():
    tasks = [sinter.Task(circuit=stim.Circuit(), decoder="pymatching", json_metadata={"d": d, "p": 0.01})
             for d in (3, 5)]
    assert task_labels(tasks) == ["pymatching d=3", "pymatching d=5"]
    for live in (True, False):
        import io
        stream, clock = io.StringIO(), Clock()
        plans = [TaskPlan(Budget(max_shots=1000, max_errors=10)) for _ in tasks]
        progress = SweepProgress([TaskRow(label, plan) for label, plan in zip(task_labels(tasks), plans)],
                                 stream, live=live, clock=clock)
        for plan in plans:
            plan.sent(200)
        clock.now += 40
        plans[0].counted(200, 2, 1.0)
        progress.update()
        plans[0].sent(800)
        plans[0].counted(800, 3, 1.0)
        plans[1].counted(200, 10, 1.0)
        clock.now += 1
        progress.finish()
        text = stream.getvalue()
        done_3 = "done  pymatching d=3  shots 1,000/1,000  errors 5/10  rate 0.005\n"
        done_5 = "done  pymatching d=5  shots 200/1,000  errors 10/10  rate 0.05\n"
        if live:
            assert text == ("pymatching d=3  shots 200/1,000  errors 2/10  rate 0.01  ~3 min left\n"
                            "pymatching d=5  shots 0/1,000  errors 0/10  estimating\n"
                            "\x1b[2F\x1b[J" + done_3 + done_5)
        else:
            assert text == ("      pymatching d=3  shots 200/1,000  errors 2/10  rate 0.01  ~3 min left\n"
                            "      pymatching d=5  shots 0/1,000  errors 0/10  estimating\n" + done_3 + done_5)


def vornex_sweep(*args):
    import subprocess
    import sys
    return subprocess.run([sys.executable, "-m", "vornex_tools", "sweep", *map(str, args)], capture_output=True,
                          text=True, timeout=120)


def test_command_refuses_what_it_cannot_run(tmp_path):
    pytest.importorskip("distributed")
    save = ["--save", tmp_path / "out.csv"]
    generate = ["--generate", "repetition_code:memory", "--distances", "3", "--noise", "0.01"]
    no_rule = vornex_sweep(*generate, *save)
    assert no_rule.returncode == 1 and no_rule.stderr == "vornex: error: give --max-shots, --max-errors or both\n"
    unknown = vornex_sweep(*generate, *save, "--max-shots", "100", "--decoders", "nonsense")
    assert unknown.returncode == 1
    assert unknown.stderr.startswith("vornex: error: unknown decoder 'nonsense'; available: ")
    assert "pymatching" in unknown.stderr and "vornex_matching" in unknown.stderr
    assert not (tmp_path / "out.csv").exists()
    # A decoder failing on the workers fails the sweep with its text; nothing is counted for the task.
    circuit = tmp_path / "three_detectors.stim"  # one error flips three detectors, with no parts to split it into
    circuit.write_text("X_ERROR(0.1) 0\nM 0 0 0\nDETECTOR rec[-1]\nDETECTOR rec[-2]\nDETECTOR rec[-3]\n"
                       "OBSERVABLE_INCLUDE(0) rec[-1]\n")
    hyperedges = vornex_sweep("--circuits", circuit, "--max-shots", "1000", "--workers", "1", "--quiet", *save)
    assert hyperedges.returncode == 1
    assert hyperedges.stderr.startswith("vornex: error: task vornex_matching")
    assert "decompose_errors=True" in hyperedges.stderr
    assert (tmp_path / "out.csv").read_text() == sinter.CSV_HEADER + "\n"


def test_a_failing_task_fails_alone_and_the_others_finish(tmp_path):
    pytest.importorskip("distributed")
    hyperedge = tmp_path / "three_detectors.stim"  # a graph decoder refuses its model on the workers
    hyperedge.write_text("X_ERROR(0.1) 0\nM 0 0 0\nDETECTOR rec[-1]\nDETECTOR rec[-2]\nDETECTOR rec[-3]\n"
                         "OBSERVABLE_INCLUDE(0) rec[-1]\n")
    good = tmp_path / "d=3.stim"
    stim.Circuit.generated("repetition_code:memory", distance=3, rounds=3,
                           before_round_data_depolarization=0.05).to_file(good)
    save = tmp_path / "out.csv"
    result = vornex_sweep("--circuits", hyperedge, good, "--max_shots", "2000", "--workers", "1", "--quiet",
                          "--decoders", "matching", "vornex_union_find", "--save_resume_filepath", save)
    assert result.returncode == 1
    # One error line naming both failed tasks; the table has every task, the failed ones marked.
    assert result.stderr.count("\n") == 1 and result.stderr.startswith("vornex: error: 2 of 4 tasks failed: ")
    assert "hyperedges: bposd, relay_bp" in result.stderr
    table = {line.split()[0] + " " + line.split()[1]: line.split()[-1] for line in result.stdout.splitlines()[1:]}
    assert table == {"vornex_matching path=" + str(hyperedge): "failed", "vornex_uf path=" + str(hyperedge): "failed",
                     "vornex_matching d=3": table["vornex_matching d=3"], "vornex_uf d=3": table["vornex_uf d=3"]}
    saved = sinter.read_stats_from_csv_files(save)
    assert sorted((s.decoder, s.json_metadata["d"], s.shots) for s in saved) == [("vornex_matching", 3, 2000),
                                                                                 ("vornex_uf", 3, 2000)]
