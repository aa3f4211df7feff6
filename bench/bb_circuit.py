"""Circuit-level Z-basis memory of the bivariate-bicycle code [[144,12,12]] (l = 12, m = 6,
A = x^3 + y + y^2, B = y^3 + x + x^2; Bravyi et al. 2024), built as a Stim circuit.

Each round measures the 72 Z checks (CNOTs data -> ancilla) and then the 72 X checks
(CNOTs ancilla -> data between Hadamards), one monomial of A or B per CNOT layer, so every
layer is a perfect matching and runs in parallel. Noise at strength p: depolarising after
every two-qubit gate and Hadamard, flips after resets and before measurements. Only the Z
checks carry detectors (the X checks never see the Z logicals' flips), so the model is the
one a Z-memory decoder reads; the 12 observables are a basis of Z logicals.
"""
import numpy as np
import stim

from gf2 import logicals

L, M = 12, 6


def _shift(size, power):
    return np.roll(np.eye(size, dtype=np.uint8), power, axis=1)


def _monomials():
    x = lambda k: np.kron(_shift(L, k), np.eye(M, dtype=np.uint8))  # noqa: E731
    y = lambda k: np.kron(np.eye(L, dtype=np.uint8), _shift(M, k))  # noqa: E731
    return [x(3), y(1), y(2)], [y(3), x(1), x(2)]


def check_matrices():
    """(H_X, H_Z), each 72 x 144 over GF(2)."""
    a_terms, b_terms = _monomials()
    a = sum(a_terms) % 2
    b = sum(b_terms) % 2
    return np.hstack([a, b]).astype(np.uint8), np.hstack([b.T, a.T]).astype(np.uint8)


def z_logicals():
    """Z-type logicals: kernel vectors of H_X independent of the rows of H_Z."""
    hx, hz = check_matrices()
    return logicals(hx, hz)


def bb_memory_circuit(p, rounds=12):
    hx, hz = check_matrices()
    a_terms, b_terms = _monomials()
    n = 144
    z_anc = list(range(n, n + 72))
    x_anc = list(range(n + 72, n + 144))
    # Layer k of the Z checks: check i touches data column of the k-th term of
    # [B^T | A^T]; of the X checks, of [A | B].
    z_layers = [np.argmax(t.T, axis=1) + 72 * 0 for t in b_terms] + [np.argmax(t.T, axis=1) + 72 for t in a_terms]
    x_layers = [np.argmax(t, axis=1) for t in a_terms] + [np.argmax(t, axis=1) + 72 for t in b_terms]
    c = stim.Circuit()
    data = list(range(n))
    c.append("R", data + z_anc + x_anc)
    c.append("X_ERROR", data + z_anc + x_anc, p)
    for r in range(rounds):
        for layer in z_layers:
            pairs = [q for i in range(72) for q in (int(layer[i]), z_anc[i])]
            c.append("CX", pairs)
            c.append("DEPOLARIZE2", pairs, p)
        c.append("H", x_anc)
        c.append("DEPOLARIZE1", x_anc, p)
        for layer in x_layers:
            pairs = [q for i in range(72) for q in (x_anc[i], int(layer[i]))]
            c.append("CX", pairs)
            c.append("DEPOLARIZE2", pairs, p)
        c.append("H", x_anc)
        c.append("DEPOLARIZE1", x_anc, p)
        c.append("X_ERROR", z_anc + x_anc, p)
        c.append("MR", z_anc + x_anc)
        c.append("X_ERROR", z_anc + x_anc, p)
        for i in range(72):
            # Z check i was measured 144 - i records ago in this round.
            now = stim.target_rec(-144 + i)
            if r == 0:
                c.append("DETECTOR", [now])
            else:
                c.append("DETECTOR", [now, stim.target_rec(-288 + i)])
    c.append("X_ERROR", data, p)
    c.append("M", data)
    for i in range(72):
        support = np.nonzero(hz[i])[0]
        c.append("DETECTOR", [stim.target_rec(-n + int(q)) for q in support] + [stim.target_rec(-n - 144 + i)])
    for k, logical in enumerate(z_logicals()):
        c.append("OBSERVABLE_INCLUDE", [stim.target_rec(-n + int(q)) for q in np.nonzero(logical)[0]], k)
    return c


if __name__ == "__main__":
    circuit = bb_memory_circuit(0.003)
    dem = circuit.detector_error_model()
    print(circuit.num_qubits, dem.num_detectors, dem.num_observables, dem.num_errors)
