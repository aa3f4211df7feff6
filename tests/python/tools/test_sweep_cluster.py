"""Sweeps on real Dask clusters: against sinter's collector, across a killed worker, across a stop and restart."""
import contextlib
import math
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

stim = pytest.importorskip("stim")
sinter = pytest.importorskip("sinter")
pytest.importorskip("distributed")

import vornex_tools  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
# Worker processes import the test decoders from here, and the module and package from where this process does.
CHILD_ENV = {**os.environ, "PYTHONPATH": os.pathsep.join([str(HERE), *sys.path]), "VORNEX_NUM_THREADS": "1"}
CUSTOM = "sweep_decoders:custom_decoders"


def memory_task(distance=3, p=0.01):
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=distance, rounds=distance,
                                     after_clifford_depolarization=p, before_measure_flip_probability=p)
    return sinter.Task(circuit=circuit, json_metadata={"d": distance, "p": p})


def z_score(a: sinter.TaskStats, b: sinter.TaskStats) -> float:
    """Two-proportion z statistic of the error rates."""
    pooled = (a.errors + b.errors) / (a.shots + b.shots)
    spread = math.sqrt(pooled * (1 - pooled) * (1 / a.shots + 1 / b.shots))
    return abs(a.errors / a.shots - b.errors / b.shots) / spread


# The child takes Ctrl-C even when this run inherited SIGINT ignored (a job a shell without job control
# started in the background): Python installs its KeyboardInterrupt handler only over the default.
def sigint_by_default():
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@contextlib.contextmanager
def vornex_sweep(*args, env=CHILD_ENV):
    """The sweep command running in a process group of its own (as a terminal's foreground job); killed and
    reaped on leaving, so a failed check leaves nothing running."""
    process = subprocess.Popen([sys.executable, "-m", "vornex_tools", "sweep", *map(str, args)], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               preexec_fn=sigint_by_default, start_new_session=True)
    try:
        yield process
    finally:
        if process.poll() is None:
            process.kill()
        process.communicate()


def rows(path):
    """Data rows of a results file, as (shots, errors)."""
    lines = pathlib.Path(path).read_text().splitlines()[1:]
    return [(int(line.split(",")[0]), int(line.split(",")[1])) for line in lines]


def wait_for_rows(path, count, process, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        # Whole lines only: the sweep may be halfway through appending one.
        if pathlib.Path(path).exists() and pathlib.Path(path).read_text().count("\n") - 1 >= count:
            return
        assert process.poll() is None, process.communicate()
        time.sleep(0.02)
    raise AssertionError(f"fewer than {count} rows in {path} after {timeout} s")


def test_embedded_cluster_agrees_with_sinter_collect(tmp_path):
    tasks = [memory_task(3, 0.01), memory_task(5, 0.006)]
    decoders = ["vornex_matching", "pymatching"]
    ours = vornex_tools.sweep(tasks, decoders=decoders, max_shots=20_000, workers=2, save=tmp_path / "ours.csv",
                              progress=False)
    theirs = sinter.collect(num_workers=2, tasks=tasks, decoders=decoders, max_shots=20_000,
                            custom_decoders=vornex_tools.sinter_decoders())
    theirs = {s.strong_id: s for s in theirs}
    assert len(ours) == 4 and set(theirs) == {s.strong_id for s in ours}
    for stats in ours:
        assert stats.shots == theirs[stats.strong_id].shots == 20_000
        assert stats.errors > 50
        assert z_score(stats, theirs[stats.strong_id]) < 4.5, (stats, theirs[stats.strong_id])
    # The file holds every batch once: its rows add up to the totals, as sinter reads them.
    from_file = {s.strong_id: s for s in sinter.read_stats_from_csv_files(tmp_path / "ours.csv")}
    assert {(s.strong_id, s.shots, s.errors) for s in ours} == \
        {(s.strong_id, s.shots, s.errors) for s in from_file.values()}


@pytest.fixture
def loopback_cluster(tmp_path):
    """A scheduler and two single-threaded workers, each its own process, on 127.0.0.1; yields (address, workers)."""
    scheduler_file = tmp_path / "scheduler.json"
    started = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                 "--port", "0", "--dashboard-address", "127.0.0.1:0", "--scheduler-file",
                                 str(scheduler_file)],
                                env=CHILD_ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        deadline = time.monotonic() + 30
        while not scheduler_file.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        import json
        address = json.loads(scheduler_file.read_text())["address"]
        workers = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", address, "--nthreads", "1",
                                     "--no-nanny", "--dashboard-address", "127.0.0.1:0", "--host", "127.0.0.1"],
                                    env=CHILD_ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                   for _ in range(2)]
        started += workers
        from distributed import Client
        with Client(address, timeout=30) as client:
            client.wait_for_workers(2, timeout=30)
        yield address, workers
    finally:
        for process in started:
            if process.poll() is None:
                process.kill()
            process.wait()


def test_two_workers_one_killed_mid_sweep_count_every_batch_once(tmp_path, loopback_cluster):
    address, workers = loopback_cluster
    # Twenty fixed batches with seeds from one base seed: the totals are a function of the batches alone.
    common = ["--generate", "surface_code:rotated_memory_z", "--distances", "3", "--noise", "0.02",
              "--max-shots", "4000", "--batch-shots", "200", "--seed", "12345", "--custom-decoders", CUSTOM,
              "--decoders", "slow_matching", "--scheduler", address, "--quiet"]
    with vornex_sweep(*common, "--save", tmp_path / "calm.csv") as calm:
        _, err = calm.communicate(timeout=120)
    assert calm.returncode == 0, err
    calm_rows = rows(tmp_path / "calm.csv")
    assert calm_rows and all(shots == 200 for shots, _ in calm_rows) and len(calm_rows) == 20

    with vornex_sweep(*common, "--save", tmp_path / "rough.csv") as rough:
        wait_for_rows(tmp_path / "rough.csv", 4, rough)
        workers[0].kill()  # mid-batch: each batch sleeps in the decoder
        out, err = rough.communicate(timeout=120)
    assert rough.returncode == 0, err
    assert workers[0].wait() == -signal.SIGKILL and workers[1].poll() is None
    rough_rows = rows(tmp_path / "rough.csv")
    # Nothing lost, nothing twice: the same twenty batches with the same counts, in whatever order they finished.
    assert sorted(rough_rows) == sorted(calm_rows)
    total_errors = sum(errors for _, errors in calm_rows)
    assert total_errors > 0
    assert out.splitlines()[1].split()[2:4] == ["4,000", f"{total_errors:,}"]


def test_a_batch_the_scheduler_gives_up_on_is_sent_again(tmp_path):
    # The scheduler gives up on a batch at its first lost worker; the sweep sends it again to the restarted worker.
    env = {**CHILD_ENV, "DASK_DISTRIBUTED__SCHEDULER__ALLOWED_FAILURES": "0",
           "SWEEP_TEST_DIE_MARKER": str(tmp_path / "died")}
    with vornex_sweep("--generate", "surface_code:rotated_memory_z", "--distances", "3", "--noise", "0.02",
                      "--max-shots", "2000", "--batch-shots", "500", "--workers", "1", "--custom-decoders", CUSTOM,
                      "--decoders", "dies_once", "--save", tmp_path / "out.csv", "--quiet", env=env) as run:
        _, err = run.communicate(timeout=120)
    assert run.returncode == 0, err
    assert (tmp_path / "died").exists()
    assert [shots for shots, _ in rows(tmp_path / "out.csv")] == [500] * 4


def test_stopped_sweep_resumes_to_the_same_totals(tmp_path, monkeypatch):
    task_args = ["--generate", "surface_code:rotated_memory_z", "--distances", "3", "--noise", "0.02",
                 "--max-shots", "6000", "--batch-shots", "200", "--workers", "2", "--custom-decoders", CUSTOM,
                 "--decoders", "slow_matching", "--save", tmp_path / "stopped.csv", "--quiet"]
    with vornex_sweep(*task_args) as first:
        wait_for_rows(tmp_path / "stopped.csv", 6, first)
        # Ctrl-C in a terminal: the signal reaches the command and its embedded cluster's workers alike.
        stopped_at = time.monotonic()
        os.killpg(first.pid, signal.SIGINT)
        _, err = first.communicate(timeout=60)
        stop_seconds = time.monotonic() - stopped_at
    assert first.returncode == 130, err
    assert stop_seconds < 2.0, f"{stop_seconds:.2f} s from Ctrl-C to exit"
    assert err.endswith("the same command resumes\n") and "Traceback" not in err, err
    before = (tmp_path / "stopped.csv").read_text()
    assert 6 <= len(rows(tmp_path / "stopped.csv")) < 30

    with vornex_sweep(*task_args) as second:
        _, err = second.communicate(timeout=120)
    assert second.returncode == 0, err
    after = (tmp_path / "stopped.csv").read_text()
    assert after.startswith(before)  # appended to, never rewritten
    resumed = sinter.read_stats_from_csv_files(tmp_path / "stopped.csv")
    assert len(resumed) == 1 and resumed[0].shots == 6000

    # One run straight through, same task and decoder (without the wait): same shots, errors within sampling error.
    monkeypatch.setenv("PYTHONPATH", CHILD_ENV["PYTHONPATH"])
    straight = vornex_tools.sweep(
        [stim_task for stim_task in _generated("surface_code:rotated_memory_z", 3, 0.02)],
        decoders=["vornex_matching"], max_shots=6000, workers=1, progress=False)
    assert straight[0].shots == resumed[0].shots
    assert z_score(straight[0], resumed[0]) < 4.5

    # Once a task met its rule, the same command finds nothing left to do and writes nothing.
    with vornex_sweep(*task_args) as third:
        out, err = third.communicate(timeout=60)
    assert third.returncode == 0, err
    assert (tmp_path / "stopped.csv").read_text() == after
    assert "6,000" in out


def _generated(code, distance, p):
    from vornex_tools.sweeps import generated_tasks
    return generated_tasks(code, distances=[distance], noise=[p])
