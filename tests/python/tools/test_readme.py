"""The README's Python examples run as written (with fewer shots), so its first screen stays true."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("sinter")

README = pathlib.Path(__file__).resolve().parents[3] / "README.md"


def test_every_python_example_runs(tmp_path):
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    assert len(blocks) >= 3
    for block in blocks:
        quick = block.replace("1_000_000", "2_000").replace("100_000", "2_000").replace("num_workers=4",
                                                                                       "num_workers=2")
        script = tmp_path / "example.py"
        script.write_text(quick)
        result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300,
                                cwd=tmp_path, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
        assert result.returncode == 0, (block, result.stderr[-2000:])
        assert result.stdout.strip(), block
