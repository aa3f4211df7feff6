"""Shared pieces of the Union-Find tests: a plain reference decoder, code
layouts and seeded syndromes. No tests live here."""
import numpy as np

import vornex_decoder_v3 as vx
from codes import rotated_sector_top_bottom


def check_graph(checks, n_qubits):
    """Edges (a, b, q) by ascending qubit: one check -> boundary, two -> pair."""
    slots = [[] for _ in range(n_qubits)]
    for c, check in enumerate(checks):
        for q in check:
            slots[q].append(c)
    edges = []
    for q, where in enumerate(slots):
        if len(where) == 1:
            edges.append((where[0], len(checks), q))
        elif len(where) == 2:
            edges.append((where[0], where[1], q))
    return edges


def reference_decode(checks, n_qubits, syndrome):
    """The Union-Find decode written out step by step, growth unlimited."""
    n_checks = len(checks)
    n_nodes = n_checks + 1
    edges = check_graph(checks, n_qubits)
    parent = list(range(n_nodes))
    rank = [0] * n_nodes
    parity = [int(syndrome[c]) & 1 for c in range(n_checks)] + [0]
    boundary = [0] * n_checks + [1]
    support = [0] * len(edges)

    def find(x):
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    def active(r):
        return parity[r] == 1 and boundary[r] == 0

    while any(active(find(c)) for c in range(n_checks)):
        grew = False
        for e, (a, b, _) in enumerate(edges):
            if support[e] == 2:
                continue
            inc = int(active(find(a))) + int(active(find(b)))
            if inc:
                support[e] = min(support[e] + inc, 2)
                grew = True
        if not grew:
            break
        for e, (a, b, _) in enumerate(edges):
            if support[e] != 2:
                continue
            ra, rb = find(a), find(b)
            if ra == rb:
                continue
            p, h = parity[ra] ^ parity[rb], boundary[ra] | boundary[rb]
            if rank[ra] < rank[rb]:
                parent[ra], root = rb, rb
            elif rank[ra] > rank[rb]:
                parent[rb], root = ra, ra
            else:
                parent[rb], root = ra, ra
                rank[ra] += 1
            parity[root], boundary[root] = p, h

    adjacency = [[] for _ in range(n_nodes)]
    for (a, b, q), grown in zip(edges, support):
        if grown == 2:
            adjacency[a].append((b, q))
            adjacency[b].append((a, q))
    visited = [False] * n_nodes
    tparent = list(range(n_nodes))
    tqubit = [None] * n_nodes
    order = []
    for root in [n_checks] + list(range(n_nodes)):
        if visited[root]:
            continue
        visited[root] = True
        queue = [root]
        while queue:
            u = queue.pop(0)
            order.append(u)
            for v, q in adjacency[u]:
                if not visited[v]:
                    visited[v] = True
                    tparent[v], tqubit[v] = u, q
                    queue.append(v)
    defect = [int(syndrome[c]) & 1 for c in range(n_checks)] + [0]
    correction = np.zeros(n_qubits, dtype=np.uint8)
    for v in reversed(order):
        if tparent[v] != v and defect[v]:
            correction[tqubit[v]] ^= 1
            defect[tparent[v]] ^= 1
            defect[v] = 0
    return correction


def random_code(rng):
    """Qubits in zero, one or two check slots (self-loops allowed), spare qubits."""
    n_checks = int(rng.integers(1, 9))
    n_qubits = int(rng.integers(1, 16))
    checks = [[] for _ in range(n_checks)]
    for q in range(n_qubits):
        for _ in range(int(rng.choice([0, 1, 2, 2]))):
            checks[int(rng.integers(n_checks))].append(q)
    total = n_qubits
    for check in checks:
        if not check:
            check.append(total)
            total += 1
        rng.shuffle(check)
    return checks, total + int(rng.integers(0, 3))


def standard_codes():
    codes = []
    for d in (3, 5):
        codes.append(vx.py_generate_repetition_code_checks(d))
    codes.append(vx.py_generate_ring_code_checks(2))
    for d in (3, 5, 7, 9, 11, 13, 15):
        codes.append(rotated_sector_top_bottom(d))
    return codes


def syndromes(rng, checks, n_qubits, n_shots, p=0.05):
    """Syndromes of independent bit flips, with bit 1 set at random on top."""
    errors = (rng.random((n_shots, n_qubits)) < p).astype(np.uint8)
    out = np.zeros((n_shots, len(checks)), dtype=np.uint8)
    for c, check in enumerate(checks):
        for q in check:
            out[:, c] ^= errors[:, q]
    return out | (rng.integers(0, 2, out.shape, dtype=np.uint8) << 1)
