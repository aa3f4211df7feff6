"""Relay-BP, BP-OSD and belief-matching on circuit-level models, against ldpc on the same shots.

Rows (all Stim circuit-level noise at strength p, rounds = distance):
- colour: `color_code:memory_xyz`, d = 3, 5, 7, 9, p = 0.001, 0.003, 0.005. Decoders: our
  RelayBPDecoder (its defaults) and BPOSDDecoder (min-sum scaled 0.625, syndrome stop, 50 iterations,
  OSD-CS order 7); ldpc's BpOsdDecoder with the same settings and its BpLsdDecoder (LSD-CS order 7).
- bb: the bivariate-bicycle [[144,12,12]] Z memory of bb_circuit.py (12 rounds), p = 0.002, 0.003;
  the same four decoders.
- belief: `surface_code:rotated_memory_x`, d = 5, 7, 9, p = 0.001, 0.003, 0.005: BeliefMatchingDecoder
  (its defaults: exact BP; and BP capped at radius 1 and 2) against plain MatchingDecoder and PyMatching.

Every decoder sees the same sampled shots. Times are CPU microseconds per shot on one thread (ours
run as one batch with VORNEX_NUM_THREADS=1; ldpc's decode is called per shot from Python, as it has
no batch call). Failures count shots whose predicted observables differ from the sampled ones.

    PYTHONPATH=build/dev:python python bench/relay_bench.py [--parts colour bb belief] [--shots N]

Goals: Relay-BP failures <= our BP-OSD-CS-7's (paired, within sampling error) at <= 0.1x its time on
colour d = 5-7, p = 0.001-0.003 and on bb; belief-matching <= 30x plain matching's time with its
failures unchanged.
"""
import argparse
import os
import subprocess
import sys
import time

os.environ["VORNEX_NUM_THREADS"] = "1"
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
import stim  # noqa: E402

import vornex_decoder_v3 as vx  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bb_circuit import bb_memory_circuit  # noqa: E402
from model_matrices import check_matrices  # noqa: E402

SEED = 0x5E1A7
BP_OSD = dict(max_iter=50, bp_method="minimum_sum", ms_scaling_factor=0.625, schedule="parallel",
              osd_method="osd_cs", osd_order=7)


def ldpc_module():
    try:
        import ldpc  # noqa: F401
    except ImportError:
        subprocess.check_call([sys.executable, "-m", "pip", "install", "-q", "ldpc"])
    import ldpc
    return ldpc


def time_ours(decoder, events):
    start = time.process_time()
    predictions = decoder.predict_observables_batch(events)
    return predictions, (time.process_time() - start) * 1e6 / len(events)


def time_ldpc(decoder, obs, events):
    out = np.zeros((len(events), obs.shape[0]), np.uint8)
    start = time.process_time()
    for i, shot in enumerate(events):
        out[i] = obs @ decoder.decode(shot) % 2
    return out, (time.process_time() - start) * 1e6 / len(events)


def failures(predictions, actual):
    return int(np.any(predictions != actual, axis=1).sum())


def row(name, results, base):
    f0, t0 = results[base]
    cells = [f"{k}: {f:4d} fail {t:9.1f} us ({t / t0:6.3f}x)" for k, (f, t) in results.items()]
    print(f"{name:28s} " + " | ".join(cells), flush=True)


def qldpc_row(name, circuit, shots):
    ldpc = ldpc_module()
    dem = circuit.detector_error_model()
    events, actual = circuit.compile_detector_sampler(seed=SEED).sample(shots, separate_observables=True)
    events = events.astype(np.uint8)
    actual = actual.astype(np.uint8)
    h, obs, priors = check_matrices(dem)
    results = {}
    bposd = vx.BPOSDDecoder.from_detector_error_model(dem, stop="syndrome", **BP_OSD)
    p, t = time_ours(bposd, events)
    results["bposd_cs7"] = (failures(p, actual), t)
    relay = vx.RelayBPDecoder.from_detector_error_model(dem)
    p, t = time_ours(relay, events)
    results["relay"] = (failures(p, actual), t)
    peer = ldpc.BpOsdDecoder(h, error_channel=list(priors), **BP_OSD)
    p, t = time_ldpc(peer, obs, events)
    results["ldpc_bposd_cs7"] = (failures(p, actual), t)
    lsd = ldpc.BpLsdDecoder(h, error_channel=list(priors), max_iter=50, bp_method="minimum_sum",
                            ms_scaling_factor=0.625, schedule="parallel", lsd_method="lsd_cs", lsd_order=7)
    p, t = time_ldpc(lsd, obs, events)
    results["ldpc_bplsd_cs7"] = (failures(p, actual), t)
    row(name, results, "bposd_cs7")


def belief_row(name, circuit, shots):
    dem = circuit.detector_error_model(decompose_errors=True)
    events, actual = circuit.compile_detector_sampler(seed=SEED).sample(shots, separate_observables=True)
    events = events.astype(np.uint8)
    actual = actual.astype(np.uint8)
    results = {}
    p, t = time_ours(vx.MatchingDecoder.from_detector_error_model(dem), events)
    results["matching"] = (failures(p, actual), t)
    import pymatching
    peer = pymatching.Matching.from_detector_error_model(dem)
    start = time.process_time()
    p = peer.decode_batch(events)
    results["pymatching"] = (failures(p, actual), (time.process_time() - start) * 1e6 / len(events))
    p, t = time_ours(vx.BeliefMatchingDecoder.from_detector_error_model(dem), events)
    results["belief_matching"] = (failures(p, actual), t)
    for radius in (1, 2):
        p, t = time_ours(vx.BeliefMatchingDecoder.from_detector_error_model(dem, bp_radius=radius), events)
        results[f"belief_r{radius}"] = (failures(p, actual), t)
    row(name, results, "matching")


def noisy(code, d, p):
    return stim.Circuit.generated(code, distance=d, rounds=d, after_clifford_depolarization=p,
                                  before_measure_flip_probability=p, after_reset_flip_probability=p,
                                  before_round_data_depolarization=p)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--parts", nargs="+", default=["colour", "bb", "belief"])
    parser.add_argument("--shots", type=int, default=2000, help="shots per row (bb rows take a fifth)")
    parser.add_argument("--distances", type=int, nargs="+", default=[3, 5, 7, 9])
    parser.add_argument("--ps", type=float, nargs="+", default=[0.001, 0.003, 0.005])
    args = parser.parse_args()
    if "colour" in args.parts:
        for d in args.distances:
            for p in args.ps:
                qldpc_row(f"colour_d{d}_p{p}", noisy("color_code:memory_xyz", d, p), args.shots)
    if "bb" in args.parts:
        for p in (0.002, 0.003):
            qldpc_row(f"bb144_p{p}", bb_memory_circuit(p), max(50, args.shots // 5))
    if "belief" in args.parts:
        for d in [d for d in args.distances if d >= 5]:
            for p in args.ps:
                belief_row(f"surface_d{d}_p{p}", noisy("surface_code:rotated_memory_x", d, p), args.shots)


if __name__ == "__main__":
    main()
