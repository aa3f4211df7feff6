"""The README's experiment script end to end, with few shots: table rows for every noise rate and a PNG plot."""
import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("sinter")
pytest.importorskip("matplotlib")

SCRIPT = pathlib.Path(__file__).resolve().parents[3] / "scripts" / "threshold_experiment.py"


@pytest.mark.parametrize("sweep", [False, True], ids=["sinter", "sweep"])
def test_experiment_prints_a_table_and_writes_a_plot(tmp_path, sweep):
    if sweep:
        pytest.importorskip("distributed")
    plot = tmp_path / "threshold.png"
    save = ["--save", str(tmp_path / "threshold.csv")] if sweep else []
    result = subprocess.run([sys.executable, str(SCRIPT), "--plot", str(plot), "--max-shots", "300",
                             "--max-errors", "50", "--workers", "1", *save], capture_output=True, timeout=600,
                            text=True)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("decoder vornex_")
    rows = [line for line in lines if line.startswith("  0.0")]
    assert [row.split()[0] for row in rows] == ["0.003", "0.005", "0.007", "0.009", "0.011", "0.013"]
    for row in rows:  # p, then "rate (errors/shots)" for d = 3, 5, 7
        cells = re.findall(r"(\S+) \(\s*(\d+)/\s*(\d+)\)", row)
        assert len(cells) == 3
        assert all(float(rate) >= 0 and 0 < int(shots) <= 300 for rate, _, shots in cells)
    assert plot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and plot.stat().st_size > 10_000
