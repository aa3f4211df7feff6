"""The `vornex` command end to end in a subprocess, on files written and read by stim."""
import io
import json
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

from vornex_tools import build_decoder
from vornex_tools.progress import Progress

stim = pytest.importorskip("stim")


def vornex(*args, stdin=b"", env=None):
    return subprocess.run([sys.executable, "-m", "vornex_tools", *map(str, args)], input=stdin,
                          capture_output=True, timeout=300, env=None if env is None else {**os.environ, **env})


@pytest.fixture(scope="module")
def experiment(tmp_path_factory):
    """A distance-3 surface-code memory experiment: model file, sampled detection events and observables."""
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=3, rounds=3,
                                     after_clifford_depolarization=0.02, before_measure_flip_probability=0.02)
    dem = circuit.detector_error_model(decompose_errors=True)
    folder = tmp_path_factory.mktemp("experiment")
    dem.to_file(folder / "model.dem")
    dets, obs = circuit.compile_detector_sampler(seed=11).sample(2000, separate_observables=True)
    return folder, dem, dets, obs


@pytest.mark.parametrize("in_format, out_format", [("b8", "01"), ("01", "b8"), ("r8", "r8"), ("dets", "dets")])
def test_predict_reads_and_writes_stim_files(experiment, in_format, out_format):
    folder, dem, dets, _ = experiment
    stim.write_shot_data_file(data=dets, path=str(folder / "dets"), format=in_format,
                              num_detectors=dem.num_detectors)
    result = vornex("predict", "--dem", folder / "model.dem", "--in", folder / "dets", "--in-format", in_format,
                    "--out", folder / "pred", "--out-format", out_format, "--decoder", "uf")
    assert result.returncode == 0 and result.stderr == b"" and result.stdout == b""
    predicted = stim.read_shot_data_file(path=str(folder / "pred"), format=out_format,
                                         num_observables=dem.num_observables)
    expected = build_decoder("uf", dem).predict_observables_batch(dets)
    assert np.array_equal(predicted, expected.astype(bool))


def test_predict_through_standard_streams(experiment):
    folder, dem, dets, _ = experiment
    ones = "".join("".join("01"[b] for b in row) + "\n" for row in dets[:50].astype(int))
    result = vornex("predict", "--dem", folder / "model.dem", "--in", "-", "--out", "-", stdin=ones.encode())
    assert result.returncode == 0
    expected = build_decoder("matching", dem).predict_observables_batch(dets[:50])
    assert result.stdout.decode() == "".join(f"{row[0]}\n" for row in expected)


def test_count_decodes_appended_observables(experiment):
    folder, dem, dets, obs = experiment
    stim.write_shot_data_file(data=np.hstack([dets, obs]), path=str(folder / "both.b8"), format="b8",
                              num_detectors=dem.num_detectors, num_observables=dem.num_observables)
    result = vornex("count", "--dem", folder / "model.dem", "--in", folder / "both.b8", "--in-format", "b8",
                    "--in-includes-appended-observables", "--decoder", "blossom", "--json")
    assert result.returncode == 0, result.stderr
    predicted = build_decoder("blossom", dem).predict_observables_batch(dets)
    errors = int(np.count_nonzero(np.any(predicted != obs, axis=1)))
    assert 0 < errors < 2000
    assert json.loads(result.stdout) == {"shots": 2000, "errors": errors, "logical_error_rate": errors / 2000}


def test_count_compares_prediction_and_observable_files(tmp_path):
    predicted = np.array([[0, 1], [1, 1], [0, 0], [1, 0]], dtype=bool)
    actual = np.array([[0, 1], [1, 0], [0, 0], [0, 1]], dtype=bool)
    stim.write_shot_data_file(data=predicted, path=str(tmp_path / "p.01"), format="01", num_observables=2)
    stim.write_shot_data_file(data=actual, path=str(tmp_path / "o.r8"), format="r8", num_observables=2)
    result = vornex("count", "--predictions", tmp_path / "p.01", "--obs", tmp_path / "o.r8", "--obs-format", "r8",
                    "--num-observables", 2)
    assert result.returncode == 0
    assert result.stdout == b"2 mistakes in 4 shots (logical error rate 0.5)\n"


def test_bad_files_exit_with_one_line(experiment, tmp_path):
    folder, dem, _, _ = experiment
    (tmp_path / "short.01").write_bytes(b"0101\n")
    result = vornex("predict", "--dem", folder / "model.dem", "--in", tmp_path / "short.01", "--out", "-")
    assert result.returncode == 1
    assert result.stderr.decode() == (f"vornex: error: 01 data ended in the middle of a shot: 5 bytes is not a "
                                      f"multiple of {dem.num_detectors + 1} ({dem.num_detectors} bits and a "
                                      f"newline per shot)\n")

    result = vornex("predict", "--dem", tmp_path / "missing.dem", "--in", tmp_path / "short.01", "--out", "-")
    assert result.returncode == 1 and result.stderr.startswith(b"vornex: error: ")
    assert b"missing.dem" in result.stderr and b"Traceback" not in result.stderr

    (tmp_path / "bad.dem").write_text("error(0.1) D0\nerror(oops) D1\n")
    result = vornex("predict", "--dem", tmp_path / "bad.dem", "--in", tmp_path / "short.01", "--out", "-")
    assert result.returncode == 1 and result.stderr.startswith(b"vornex: error: ")
    assert b"Traceback" not in result.stderr

    (tmp_path / "p.01").write_bytes(b"0\n1\n")
    (tmp_path / "o.01").write_bytes(b"0\n")
    result = vornex("count", "--predictions", tmp_path / "p.01", "--obs", tmp_path / "o.01", "--num-observables", 1)
    assert result.returncode == 1
    assert result.stderr == (b"vornex: error: predictions have 2 shots of 1 observables but the actual flips "
                             b"have 1 shots of 1\n")

    (tmp_path / "empty.01").write_bytes(b"")
    result = vornex("predict", "--dem", folder / "model.dem", "--in", tmp_path / "empty.01",
                    "--out", tmp_path / "no" / "such" / "dir")
    assert result.returncode == 1 and b"cannot write" in result.stderr


def test_files_and_declared_counts_past_the_memory_budget_are_one_error_line(experiment, tmp_path):
    folder, dem, _, _ = experiment
    small = {"VORNEX_MEMORY_BUDGET": "64K"}
    over = b", above the memory budget of 64 KiB (set VORNEX_MEMORY_BUDGET to a number of bytes"
    # An endless device stops at the budget, standard input too.
    result = vornex("predict", "--dem", folder / "model.dem", "--in", "/dev/zero", "--out", "-", env=small)
    assert result.returncode == 1
    assert result.stderr.startswith(b"vornex: error: shot data file '/dev/zero' holds more than 64 KiB" + over)
    result = vornex("count", "--dem", folder / "model.dem", "--in", "-", "--in-includes-appended-observables",
                    stdin=b"0" * 100_000, env=small)
    assert result.stderr.startswith(b"vornex: error: shot data file '<standard input>' holds more than 64 KiB")
    # A short file of empty hits lines decodes to shots of the model's width.
    (tmp_path / "wide.dem").write_text("error(0.1) D0 D9999 L0\n")
    (tmp_path / "empty.hits").write_bytes(b"\n" * 10)
    result = vornex("predict", "--dem", tmp_path / "wide.dem", "--in", tmp_path / "empty.hits", "--in-format", "hits",
                    "--out", "-", env=small)
    assert result.returncode == 1 and result.stderr.startswith(b"vornex: error: hits data decodes to 98 KiB" + over)
    # A model declaring more detectors than the decoder's tables fit in.
    (tmp_path / "empty.hits").write_bytes(b"\n")
    result = vornex("predict", "--dem", tmp_path / "wide.dem", "--in", tmp_path / "empty.hits", "--in-format", "hits",
                    "--out", "-", env=small)
    assert result.returncode == 1
    assert result.stderr.startswith(b"vornex: error: not enough memory (the model declares 10000 detectors; ")


@pytest.mark.parametrize("args, message", [
    (["predict", "--dem", "m", "--in", "x", "--out", "y", "--decoder", "nope"],
     b"unknown decoder family 'nope'; available: matching, "),
    (["predict", "--dem", "m", "--in", "x", "--out", "y", "--decoder", "bposd:osd_order=x"],
     b"decoder 'bposd:osd_order=x': "),
    (["predict", "--dem", "m", "--in", "x", "--out", "y", "--in-format", "csv"], b"argument --in-format/--in_format: "
                                                                                 b"invalid choice: 'csv'"),
    (["predict", "--dem", "m"], b"the following arguments are required: --in, --out/--obs_out"),
    (["count", "--obs", "o"], b"give --predictions, or --dem and --in to decode"),
    (["count", "--predictions", "p"], b"give --obs, or --in with --in-includes-appended-observables"),
    (["count", "--predictions", "p", "--obs", "o"], b"give --dem or --num-observables"),
    (["count", "--predictions", "p", "--obs", "o", "--bogus"], b"unrecognized arguments: --bogus"),
    ([], b"the following arguments are required: COMMAND"),
])
def test_bad_arguments_are_one_error_line(args, message):
    result = vornex(*args)
    assert result.returncode == 1
    assert result.stderr.startswith(b"vornex: error: ") and message in result.stderr
    assert result.stderr.count(b"\n") == 1, result.stderr


def test_serve_answers_on_standard_streams():
    result = vornex("serve", stdin=b'{"jsonrpc":"2.0","id":1,"method":"tools/list"}\n')
    assert result.returncode == 0
    reply = json.loads(result.stdout.splitlines()[0])
    assert reply["id"] == 1 and reply["result"]["tools"]


def test_installed_console_command_runs_the_tool():
    command = pathlib.Path(sys.executable).with_name("vornex")
    if not command.exists():
        pytest.skip("the package is not installed for this interpreter (developer route)")
    result = subprocess.run([str(command), "--help"], capture_output=True, timeout=60)
    assert result.returncode == 0 and b"predict" in result.stdout and b"serve" in result.stdout


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_progress_is_drawn_only_on_terminals_and_only_for_long_runs():
    now = [0.0]
    clock = lambda: now[0]  # noqa: E731
    pipe = io.StringIO()
    for stream in (pipe, Terminal()):
        progress = Progress("vornex predict", 300, stream=stream, clock=clock)
        now[0] = 0.5
        progress.update(100)    # too early: short runs stay quiet
        now[0] = 2.0
        progress.update(200)
        now[0] = 2.1
        progress.update(250)    # too soon after the last line
        now[0] = 3.0
        progress.finish()
        now[0] = 0.0
    assert pipe.getvalue() == ""
    assert stream.getvalue() == ("\rvornex predict: 200/300 shots (100 shots/s)"
                                 "\rvornex predict: 300/300 shots in 3.0 s\n")
    quiet = Progress("x", 10, stream=Terminal(), clock=clock)
    quiet.update(10)
    quiet.finish()
    assert quiet.stream.getvalue() == ""


def test_predictions_are_the_same_across_chunks(experiment, monkeypatch):
    from vornex_tools import decode_run
    _, dem, dets, _ = experiment
    packed = np.packbits(dets, axis=1, bitorder="little")
    whole = decode_run.predict(dem, "uf", packed, label="test")
    monkeypatch.setattr(decode_run, "CHUNK_SHOTS", 300)
    assert np.array_equal(decode_run.predict(dem, "uf", packed, label="test"), whole)
    assert np.array_equal(whole, build_decoder("uf", dem).predict_observables_batch(dets.view(np.uint8)))


def test_stim_and_pymatching_spellings_give_pymatchings_files(experiment, tmp_path):
    pymatching = pytest.importorskip("pymatching")
    folder, dem, dets, obs = experiment
    stim.write_shot_data_file(data=np.hstack([dets, obs]), path=str(tmp_path / "both.b8"), format="b8",
                              num_detectors=dem.num_detectors, num_observables=dem.num_observables)
    common = ["--dem", str(folder / "model.dem"), "--in", str(tmp_path / "both.b8"), "--in_format", "b8",
              "--in_includes_appended_observables"]
    pymatching.cli(command_line_args=["predict", *common, "--out", str(tmp_path / "peer.01"), "--out_format", "01"])
    # The same words, with the family's own options syntax, and stim's name for an observables file.
    result = vornex("predict", *common, "--obs_out", tmp_path / "ours.01", "--obs_out_format", "01")
    assert result.returncode == 0 and result.stderr == b""
    assert (tmp_path / "ours.01").read_bytes() == (tmp_path / "peer.01").read_bytes()

    stim.write_shot_data_file(data=obs, path=str(tmp_path / "obs.r8"), format="r8", num_observables=1)
    predicted = stim.read_shot_data_file(path=str(tmp_path / "ours.01"), format="01", num_observables=1)
    errors = int(np.count_nonzero(predicted != obs))
    for command in (["count_mistakes", *common], ["count", *common, "--obs_in", tmp_path / "obs.r8",
                                                   "--obs_in_format", "r8", "--decoder", "bposd:osd_order=2"]):
        result = vornex(*command, "--json")
        assert result.returncode == 0, result.stderr
        counted = json.loads(result.stdout)["errors"]
        assert counted == errors if command[0] == "count_mistakes" else 0 < counted < 2 * errors + 20

    # PyMatching's count_mistakes line, on standard output or in --out, for scripts that parse it.
    pymatching.cli(command_line_args=["count_mistakes", *common, "--out", str(tmp_path / "peer.txt")])
    peer_line = (tmp_path / "peer.txt").read_bytes()
    assert vornex("count_mistakes", *common).stdout == peer_line == f"{errors} / 2000\n".encode()
    timed = vornex("count_mistakes", *common, "--time", "--out", tmp_path / "ours.txt")
    assert (tmp_path / "ours.txt").read_bytes() == peer_line and timed.stdout == b""
    assert re.fullmatch(rb"Total decoding time: \d+us\nDecoding time per shot: [0-9.e+-]+us\n", timed.stderr)


def test_models_the_command_cannot_decode_well_are_told(tmp_path):
    (tmp_path / "no_obs.dem").write_text("error(0.1) D0 D1\nerror(0.1) D1\n")
    (tmp_path / "dets.01").write_text("01\n11\n")
    result = vornex("predict", "--dem", tmp_path / "no_obs.dem", "--in", tmp_path / "dets.01", "--out", "-")
    assert result.returncode == 0 and result.stdout == b"\n\n"
    assert result.stderr == (f"vornex: warning: the model {str(tmp_path / 'no_obs.dem')!r} has no observables: "
                             f"every prediction is empty\n").encode()
    # A hyperedge: the default family refuses it and says which families take it, on one line.
    (tmp_path / "hyper.dem").write_text("error(0.1) D0 D1 L0\nerror(0.1) D0 D1 D2\n")
    (tmp_path / "dets3.01").write_text("110\n")
    result = vornex("predict", "--dem", tmp_path / "hyper.dem", "--in", tmp_path / "dets3.01", "--out", "-")
    assert result.returncode == 1 and result.stderr.count(b"\n") == 1
    assert result.stderr.startswith(b"vornex: error: line 2: ") and result.stderr.endswith(b"hyperedges: bposd, relay_bp\n")
    result = vornex("predict", "--dem", tmp_path / "hyper.dem", "--in", tmp_path / "dets3.01", "--out", "-",
                    "--decoder", "bposd")
    assert result.returncode == 0 and result.stdout in (b"0\n", b"1\n")


def test_unexpected_failures_are_one_line_too(experiment, monkeypatch, capsys):
    import vornex_decoder_v3 as vx
    from vornex_tools import cli, decode_run
    folder, _, _, _ = experiment
    args = ["predict", "--dem", str(folder / "model.dem"), "--in", "-", "--out", "-"]
    for raised, line in ((MemoryError(), "not enough memory (MemoryError)"),
                         (vx.PanicException("assertion failed:\nleft == right"),
                          "PanicException: assertion failed: left == right"),
                         (RuntimeError("IO error"), "RuntimeError: IO error")):
        def fail(*_, error=raised):
            raise error
        monkeypatch.setattr(decode_run, "load_model", fail)
        assert cli.main(args) == 1
        assert capsys.readouterr().err == f"vornex: error: {line}\n"
