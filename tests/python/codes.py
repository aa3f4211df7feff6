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
    """The module's Z checks transposed (qubit r*d + c becomes c*d + r), so the
    weight-2 checks sit on the left and right columns, listed row by row with
    sorted qubits. Returns (checks, d*d)."""
    code = vx.RotatedSurfaceCode(d)
    return sorted(sorted((q % d) * d + q // d for q in check) for check in code.z_checks), code.n_qubits


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


def no_observables_text(class_name):
    """The binding's refusal of predict_observables on a decoder built from check lists."""
    return (f"{class_name} has no observables: it was built from check lists; build it with "
            f"{class_name}.from_detector_error_model(model) to predict observables")


def error_text(exception_type, call):
    """The text of the exception_type that call() raises."""
    import pytest  # only the tests need it; the benchmarks share the layouts above

    with pytest.raises(exception_type) as info:
        call()
    return str(info.value)
