"""BP-OSD with peer settings, and belief-matching, against peers on the same shots.

(a) Bivariate bicycle code [[144,12,12]] (l=12, m=6, A = x^3 + y + y^2,
    B = y^3 + x + x^2, H_X = [A|B], H_Z = [B^T|A^T]) under code-capacity Z
    noise p = 0.01..0.05, decoded with H_X. A shot fails when the residual
    error anticommutes with one of the 12 X logicals, computed here by GF(2)
    linear algebra (kernel of H_Z modulo the row space of H_X).
(b) Circuit-level rotated surface-code memory (stim generated, d rounds),
    d = 3..7, p = 0.001..0.005, undecomposed models, per-column priors.
(c) Belief-matching against plain matching (ours, and PyMatching) on the
    decomposed models, d = 5, 7, p = 0.003, 0.005.

Ours and the peer (ldpc 2) run the same settings: min-sum, scaling 1.0,
parallel schedule, at most 50 iterations, stop once the hard decision
explains the syndrome, OSD-CS of order 7 (code capacity) / OSD-CS of order 4
(circuit level). Timing: a Python loop of single decodes for both (per-shot
latency), plus our batch call on the worker pool for reference. Shots are
drawn once per row, before timing, with a fixed seed.

    pip install ldpc stim pymatching
    PYTHONPATH=build/<dir> python3 bench/bp_osd_settings_bench.py [--shots N] [--quick]

Goals: per-shot time at most the peer's with equal failure rates; belief-
matching at least 20% fewer failures than plain matching at d = 5, 7.
"""
import argparse
import os
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
import scipy.sparse  # noqa: E402

import vornex_decoder_v3 as vx  # noqa: E402
from bb_circuit import check_matrices as bb_check_matrices  # noqa: E402
from gf2 import logicals as gf2_logicals  # noqa: E402
from model_matrices import check_matrices  # noqa: E402

SEED = 0xB1C7C1E


def checks_of(h):
    return [list(map(int, np.nonzero(row)[0])) for row in h]


# ---- Timing ----

def time_loop(decode, rows):
    out = []
    start = time.perf_counter()
    for row in rows:
        out.append(decode(row))
    return np.array(out), (time.perf_counter() - start) / max(1, len(rows)) * 1e6


def row_text(name, ours_us, peer_us, ours_fail, peer_fail, shots, batch_us=None):
    ratio = peer_us / ours_us if ours_us else float("nan")
    extra = f" batch {batch_us:7.1f}" if batch_us is not None else ""
    return (f"{name:28s} ours {ours_us:8.1f} us  peer {peer_us:8.1f} us  ratio {ratio:5.2f}{extra}  "
            f"fail ours {ours_fail}/{shots} peer {peer_fail}/{shots}")


# ---- (a) code capacity ----

def code_capacity(shots, rates, osd_order):
    import ldpc

    h_x, h_z = bb_check_matrices()
    logicals = gf2_logicals(h_z, h_x)
    assert logicals.shape[0] == 12, logicals.shape
    checks, n = checks_of(h_x), h_x.shape[1]
    rng = np.random.default_rng(SEED)
    print(f"bivariate bicycle [[144,12,12]]: {len(checks)} checks, {n} qubits, 12 logicals; OSD-CS order {osd_order}")
    for p in rates:
        errors = (rng.random((shots, n)) < p).astype(np.uint8)
        syndromes = (errors @ h_x.T % 2).astype(np.uint8)
        ours = vx.BPOSDDecoder(checks, n, p, max_iter=50, bp_method="minimum_sum", ms_scaling_factor=1.0,
                               schedule="parallel", stop="syndrome", osd_method="osd_cs", osd_order=osd_order)
        peer = ldpc.BpOsdDecoder(scipy.sparse.csr_matrix(h_x), error_rate=p, max_iter=50,
                                 bp_method="minimum_sum", ms_scaling_factor=1.0, schedule="parallel",
                                 osd_method="osd_cs", osd_order=osd_order)
        c_ours, t_ours = time_loop(ours.decode, syndromes)
        c_peer, t_peer = time_loop(peer.decode, syndromes)
        start = time.perf_counter()
        batch = ours.batch_decode(syndromes)
        t_batch = (time.perf_counter() - start) / shots * 1e6
        assert np.array_equal(batch, c_ours)

        def failures(c):
            residual = (errors ^ c.astype(np.uint8))
            unexplained = (residual @ h_x.T % 2).any(axis=1)
            return int(np.count_nonzero(unexplained | (residual @ logicals.T % 2).any(axis=1)))

        print(row_text(f"bb144 p={p}", t_ours, t_peer, failures(c_ours), failures(c_peer), shots, t_batch))


# ---- (b) circuit level ----

def surface_circuit(d, p):
    import stim

    return stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                  after_clifford_depolarization=p, before_measure_flip_probability=p,
                                  after_reset_flip_probability=p)


def circuit_level(shots, distances, rates, osd_order):
    import ldpc

    print(f"circuit-level rotated memory, undecomposed, per-column priors; OSD-CS order {osd_order}")
    for d in distances:
        for p in rates:
            circuit = surface_circuit(d, p)
            dem = circuit.detector_error_model(decompose_errors=False)
            h, l, priors = check_matrices(dem)
            det, obs = circuit.compile_detector_sampler(seed=SEED + d).sample(shots, separate_observables=True)
            det = det.astype(np.uint8)
            ours = vx.BPOSDDecoder.from_detector_error_model(
                dem, max_iter=50, bp_method="minimum_sum", ms_scaling_factor=1.0, schedule="parallel",
                stop="syndrome", osd_method="osd_cs", osd_order=osd_order)
            peer = ldpc.BpOsdDecoder(h, error_channel=list(priors), max_iter=50, bp_method="minimum_sum",
                                     ms_scaling_factor=1.0, schedule="parallel", osd_method="osd_cs",
                                     osd_order=osd_order)
            p_ours, t_ours = time_loop(ours.predict_observables, det)
            c_peer, t_peer = time_loop(peer.decode, det)
            p_peer = (c_peer.astype(np.uint8) @ l.T.toarray() % 2).astype(np.uint8)
            start = time.perf_counter()
            batch = ours.predict_observables_batch(det)
            t_batch = (time.perf_counter() - start) / shots * 1e6
            assert np.array_equal(batch, p_ours)
            f_ours = int(np.count_nonzero((p_ours != obs).any(axis=1)))
            f_peer = int(np.count_nonzero((p_peer != obs).any(axis=1)))
            print(row_text(f"surface d={d} p={p}", t_ours, t_peer, f_ours, f_peer, shots, t_batch))


# ---- (c) belief-matching ----

def belief_matching(shots, shots_above_5, distances, rates):
    import pymatching

    print(f"belief-matching vs plain matching (batch calls; ours on the worker pool); {shots} shots per row up to "
          f"d=5, {shots_above_5} above")
    for d in distances:
        n = shots if d <= 5 else shots_above_5
        for p in rates:
            circuit = surface_circuit(d, p)
            dem = circuit.detector_error_model(decompose_errors=True)
            det, obs = circuit.compile_detector_sampler(seed=SEED + 7 * d).sample(n, separate_observables=True)
            det = det.astype(np.uint8)
            ours = vx.BeliefMatchingDecoder(dem)
            peer = pymatching.Matching.from_detector_error_model(dem)
            figures = {}
            for name, run in (("belief", lambda: ours.predict_observables_batch(det)),
                              ("plain", lambda: ours.predict_observables_batch(det, plain=True)),
                              ("pymatching", lambda: peer.decode_batch(det))):
                start = time.perf_counter()
                pred = run()
                us = (time.perf_counter() - start) / n * 1e6
                figures[name] = (us, int(np.count_nonzero((pred != obs).any(axis=1))))
            b, pl, pm = figures["belief"], figures["plain"], figures["pymatching"]
            drop = 1 - b[1] / pl[1] if pl[1] else float("nan")
            print(f"surface d={d} p={p}: belief {b[0]:8.1f} us fail {b[1]}/{n}; plain {pl[0]:7.1f} us fail "
                  f"{pl[1]}; pymatching {pm[0]:6.1f} us fail {pm[1]}; belief fails {drop:.0%} less than plain, "
                  f"time ratio pymatching/belief {pm[0] / b[0]:.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shots", type=int, default=1000)
    parser.add_argument("--quick", action="store_true", help="fewer rows")
    parser.add_argument("--part", choices=["a", "b", "c", "all"], default="all")
    parser.add_argument("--belief-shots", type=int, default=None, help="shots per row of (c) up to d=5")
    parser.add_argument("--belief-shots-d7", type=int, default=None, help="shots per row of (c) above d=5")
    parser.add_argument("--belief-distances", type=int, nargs="+", default=[5, 7], help="distances of (c)")
    args = parser.parse_args()
    quick = args.quick
    if args.part in ("a", "all"):
        code_capacity(args.shots, [0.01, 0.03, 0.05] if quick else [0.01, 0.02, 0.03, 0.04, 0.05], 7)
    if args.part in ("b", "all"):
        circuit_level(args.shots, [3, 5] if quick else [3, 5, 7], [0.001, 0.005] if quick else [0.001, 0.003, 0.005],
                      4)
    if args.part in ("c", "all"):
        belief_shots = args.belief_shots or args.shots * 4
        belief_matching(belief_shots, args.belief_shots_d7 or belief_shots // 5, args.belief_distances, [0.003, 0.005])


if __name__ == "__main__":
    main()
