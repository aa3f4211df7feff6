"""Linear algebra over GF(2) for the benchmarks that build codes and their logicals."""
import numpy as np


def row_reduce(matrix):
    """Reduced row echelon form over GF(2) (uint8, zero rows dropped) and its pivot columns."""
    m = matrix.copy() % 2
    pivots, row = [], 0
    for col in range(m.shape[1]):
        if row == m.shape[0]:
            break
        hits = np.nonzero(m[row:, col])[0]
        if hits.size == 0:
            continue
        r = row + hits[0]
        m[[row, r]] = m[[r, row]]
        others = np.nonzero(m[:, col])[0]
        m[others[others != row]] ^= m[row]
        pivots.append(col)
        row += 1
    return m[:row], pivots


def kernel(matrix):
    """A basis of {v : matrix v = 0}, one vector a row."""
    reduced, pivots = row_reduce(matrix)
    n = matrix.shape[1]
    basis = []
    for f in (c for c in range(n) if c not in pivots):
        v = np.zeros(n, dtype=np.uint8)
        v[f] = 1
        for r, p in enumerate(pivots):
            v[p] = reduced[r, f]
        basis.append(v)
    return np.array(basis, dtype=np.uint8)


def logicals(commuting_with, modulo):
    """Logical operators: kernel vectors of `commuting_with` independent of the rows of `modulo`."""
    rank = len(row_reduce(modulo)[1])
    chosen = [modulo]
    found = []
    for v in kernel(commuting_with):
        if len(row_reduce(np.vstack(chosen + [v[None, :]]))[1]) > rank:
            chosen.append(v[None, :])
            found.append(v)
            rank += 1
    return np.array(found, dtype=np.uint8)
