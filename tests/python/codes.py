"""Code layouts, parity helpers and shared texts of the Python tests (no tests here).

The rotated sector comes in two orientations that are different codes (the
qubit numbering and the check order differ, and so do the logical operators),
so each is kept under its own name."""
import numpy as np

import vornex_decoder_v3 as vx

# Appended to each method's own prefix when an array is refused for its layout.
NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."


def rotated_sector_top_bottom(d):
    """The Z checks of the module's rotated surface code (weight-2 checks on the
    top and bottom rows; every qubit in one or two checks). Returns (checks, d*d)."""
    code = vx.RotatedSurfaceCode(d)
    return code.z_checks, code.n_qubits


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
