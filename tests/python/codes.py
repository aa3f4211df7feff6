"""Code layouts, parity helpers and shared texts of the Python tests (no tests here).

The rotated sector comes in two orientations that are different codes (the
qubit numbering and the check order differ, and so do the logical operators),
so each is kept under its own name."""
import numpy as np

# Appended to each method's own prefix when an array is refused for its layout.
NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."


def rotated_sector_top_bottom(d):
    """Z-type half of a rotated surface code patch of d x d qubits (qubit r*d + c):
    weight-4 plaquettes inside and weight-2 checks on the top and bottom rows, so
    every qubit lies in one or two checks. Returns (checks, d*d)."""
    q = lambda r, c: r * d + c  # noqa: E731
    checks = [[q(0, j), q(0, j + 1)] for j in range(d - 1) if j % 2 == 1]
    checks += [[q(i, j), q(i, j + 1), q(i + 1, j), q(i + 1, j + 1)]
               for i in range(d - 1) for j in range(d - 1) if (i + j) % 2 == 0]
    checks += [[q(d - 1, j), q(d - 1, j + 1)] for j in range(d - 1) if (d - 1 + j) % 2 == 0]
    return checks, d * d


def rotated_sector_left_right(d):
    """One check type of the rotated surface code of odd distance d: d*d qubits,
    (d*d - 1)/2 checks of weight 4 inside and weight 2 on the left and right edges,
    built row by row. Returns (checks, d*d)."""
    checks = []
    for r in range(d - 1):
        for c in range(-1, d):
            if (r + c) % 2:
                continue
            checks.append([(r + dr) * d + c + dc for dr in (0, 1) for dc in (0, 1) if 0 <= c + dc < d])
    return checks, d * d


def parity_matrix(checks, n_qubits):
    """Dense n_checks x n_qubits matrix; indices at or beyond n_qubits are left out."""
    h = np.zeros((len(checks), n_qubits), dtype=np.uint8)
    for c, check in enumerate(checks):
        for q in check:
            if q < n_qubits:
                h[c, q] = 1
    return h


def syndrome_of(checks, error):
    """Syndrome of one error pattern; qubits beyond the pattern's length are ignored."""
    return np.array([int(sum(error[q] for q in check if q < len(error)) % 2) for check in checks], dtype=np.uint8)


def error_text(exception_type, call):
    """The text of the exception_type that call() raises."""
    import pytest  # only the tests need it; the benchmarks share the layouts above

    with pytest.raises(exception_type) as info:
        call()
    return str(info.value)
