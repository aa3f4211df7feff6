"""An independent minimum-weight reference and a worker-count runner for the matching tests (no tests here)."""
import json
import os
import subprocess
import sys

import networkx as nx
import numpy as np

from codes import syndrome_of

BOUNDARY = "boundary"


def reproduces(checks, n_qubits, syndrome, correction):
    return np.array_equal(syndrome_of(checks, correction[:n_qubits]), syndrome)


def min_correction_weight(checks, n_qubits, weights, syndrome):
    """Minimum total weight of any correction, for codes whose qubits lie in at most two
    checks: shortest paths with networkx, then a minimum-weight perfect matching in which
    every defect may instead go to its own copy of the boundary."""
    g = nx.Graph()
    g.add_nodes_from(range(len(checks)))
    g.add_node(BOUNDARY)
    where = {}
    for c, check in enumerate(checks):
        for q in check:
            where.setdefault(q, []).append(c)
    for q, cs in where.items():
        a, b = (cs[0], cs[1]) if len(cs) == 2 else (cs[0], BOUNDARY)
        w = weights[q]
        if not g.has_edge(a, b) or g[a][b]["weight"] > w:
            g.add_edge(a, b, weight=w)
    defects = [c for c in range(len(checks)) if syndrome[c]]
    if not defects:
        return 0.0
    m = nx.Graph()
    dist = {c: nx.single_source_dijkstra_path_length(g, c) for c in defects}
    for i, a in enumerate(defects):
        if BOUNDARY in dist[a]:
            m.add_edge(a, ("b", a), weight=dist[a][BOUNDARY])
        for b in defects[i + 1:]:
            if b in dist[a]:
                m.add_edge(a, b, weight=dist[a][b])
                m.add_edge(("b", a), ("b", b), weight=0.0)
    matching = nx.min_weight_matching(m)
    return sum(m[u][v]["weight"] for u, v in matching)


def run_with_workers(code, workers):
    """Runs `code` in a fresh interpreter with the worker pool limited to `workers`."""
    path = os.pathsep.join([os.path.dirname(os.path.abspath(__file__))] + [p for p in sys.path if p])
    env = dict(os.environ, VORNEX_NUM_THREADS=str(workers), PYTHONPATH=path)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    return out.stdout


BATCH_AGAINST_SINGLE = """
import json, numpy as np, vornex_decoder_v3 as vx
from codes import rotated_sector_left_right, syndrome_of
checks, _ = rotated_sector_left_right({distance})
rng = np.random.default_rng({seed})
rows = np.array([syndrome_of(checks, (rng.random({n}) < p).astype(np.uint8))
                 for p in np.linspace(0, {p_max}, {n_rows})])
dec = {decoder}
batch = dec.batch_decode(rows)
assert all(np.array_equal(batch[i], dec.decode(rows[i])) for i in range(len(rows)))
print(json.dumps(batch.tolist()))
"""


def assert_batch_rows_equal_single_decodes(decoder, distance, seed, p_max, n_rows):
    """In child interpreters with one and with two workers: the batch of n_rows
    syndromes of the distance-d sector (noise rising to p_max) equals the
    single decodes row by row, and both runs give the same rows. `decoder`
    is the constructor call, with `checks`, `rng` and `np` in scope."""
    code = BATCH_AGAINST_SINGLE.format(distance=distance, seed=seed, n=distance * distance, p_max=p_max,
                                       n_rows=n_rows, decoder=decoder)
    one = run_with_workers(code, 1)
    assert one == run_with_workers(code, 2)
    assert len(json.loads(one)) == n_rows
