"""Code layouts shared by the Python benchmarks.

The rotated sector comes in two orientations that are different codes (the
qubit numbering and the check order differ, and so do the logical operators);
each benchmark keeps the one its rows and peers were measured on."""
import numpy as np


def rotated_sector_top_bottom(d):
    """Z checks of a rotated d x d patch (qubit r*d + c): weight-4 plaquettes inside
    and weight-2 checks on the top and bottom rows. Returns (checks, d*d)."""
    q = lambda r, c: r * d + c  # noqa: E731
    checks = [[q(0, j), q(0, j + 1)] for j in range(d - 1) if j % 2 == 1]
    checks += [[q(i, j), q(i, j + 1), q(i + 1, j), q(i + 1, j + 1)]
               for i in range(d - 1) for j in range(d - 1) if (i + j) % 2 == 0]
    checks += [[q(d - 1, j), q(d - 1, j + 1)] for j in range(d - 1) if (d - 1 + j) % 2 == 0]
    return checks, d * d


def rotated_sector_left_right(d):
    """The checks of one type of a rotated d x d patch, built row by row: weight 4
    inside and weight 2 on the left and right edges. Returns (checks, d*d)."""
    checks = []
    for r in range(d - 1):
        for c in range(-1, d):
            if (r + c) % 2:
                continue
            checks.append([(r + dr) * d + c + dc for dr in (0, 1) for dc in (0, 1) if 0 <= c + dc < d])
    return checks, d * d


def parity_matrix(checks, n_qubits):
    """Dense n_checks x n_qubits matrix of a code."""
    h = np.zeros((len(checks), n_qubits), dtype=np.uint8)
    for c, check in enumerate(checks):
        h[c, check] = 1
    return h
