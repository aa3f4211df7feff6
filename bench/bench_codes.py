"""Code layouts shared by the Python benchmarks: the test suite's own, so that
benchmarks and tests measure the same codes.

The rotated sector comes in two orientations that are different codes (the
qubit numbering and the check order differ, and so do the logical operators);
each benchmark keeps the one its rows and peers were measured on."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))
from codes import parity_matrix, rotated_sector_left_right, rotated_sector_top_bottom  # noqa: E402,F401
