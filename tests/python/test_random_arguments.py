"""Randomized arguments for every public class and function (random_calls.py),
run in a child process so that a crash or a hang fails this test instead of
ending the test run. The child reports internal assertions (PanicException)
and badly reported errors (SystemError) as findings."""
import pathlib
import subprocess
import sys

import pytest

SCRIPT = pathlib.Path(__file__).with_name("random_calls.py")


@pytest.mark.parametrize("seed", [1, 2])
def test_random_calls_never_crash_hang_or_panic(tmp_path, seed):
    log = tmp_path / "calls.log"
    child = subprocess.run(
        [sys.executable, str(SCRIPT), str(seed), "500", str(log)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600, cwd=tmp_path,
    )
    last_call = log.read_text().splitlines()[-1:] if log.exists() else []
    assert child.returncode == 0, (
        f"exit status {child.returncode} (negative: killed by that signal; 3: findings)\n"
        f"last call: {last_call}\n{child.stdout[-4000:]}\n{child.stderr[-2000:]}"
    )
