"""Detector error models: reading them, and predicting observables from
circuit-level samples, against the peers on the same inputs in one run.

Reader: the text of a rotated surface-code memory model written by stim
(distance 25, 25 rounds, p = 0.001, errors decomposed) read by
DetectorErrorModel(text); for reference stim parsing its own text and
pymatching building its graph from stim's object (a parse plus graph build).
Goal: our read under 0.2 s.

Prediction (rows like dem_blossom_rotated_d5_p0.003): rotated surface-code
memory-X circuits, d rounds, uniform circuit noise p, shots sampled by stim
with a fixed seed, bit-packed, before timing. Each family built by
from_detector_error_model decodes the packed shots with
predict_observables_batch(bit_packed=True) (rows on the worker pool);
pymatching decodes the same packed shots with decode_batch (one thread).
Columns: shots/s (best of a few passes), ratio = ours / peer shots/s (above
1 means we are faster), and the logical error rate of each, which must agree
within sampling error for the exact decoders.

    pip install stim pymatching
    PYTHONPATH=build/<dir> python3 bench/dem_bench.py [--shots N] [--distances 3 5 7]
"""
import argparse
import time

import numpy as np
import pymatching
import stim

import vornex_decoder_v3 as vx

SEED = 0x16D


def surface_circuit(distance, p, rounds=None):
    return stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=distance, rounds=rounds or distance,
        after_clifford_depolarization=p, before_measure_flip_probability=p,
        after_reset_flip_probability=p, before_round_data_depolarization=p)


def best_seconds(fn, repeats=3):
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t0)
    return best, result


def shots_per_second(decode, shots, min_seconds=0.5):
    best, spent, result = 0.0, 0.0, None
    while spent < min_seconds or result is None:
        t0 = time.perf_counter()
        result = decode(shots)
        dt = time.perf_counter() - t0
        spent += dt
        best = max(best, len(shots) / dt)
    return best, result


def logical_error_rate(predicted_packed, observables_packed):
    return float(np.mean(np.any(predicted_packed != observables_packed, axis=1)))


def reader_rows():
    dem = surface_circuit(25, 0.001, rounds=25).detector_error_model(decompose_errors=True)
    text = str(dem)
    ours, model = best_seconds(lambda: vx.DetectorErrorModel(text))
    stim_parse, _ = best_seconds(lambda: stim.DetectorErrorModel(text))
    peer_build, _ = best_seconds(lambda: pymatching.Matching.from_detector_error_model(dem), repeats=2)
    print(f"reader surface d25 r25: {len(text) / 1e6:.1f} MB text, {model.num_errors} errors, "
          f"{model.num_detectors} detectors")
    print(f"  DetectorErrorModel(text)            {ours * 1e3:8.1f} ms   (goal < 200 ms)")
    print(f"  stim.DetectorErrorModel(text)       {stim_parse * 1e3:8.1f} ms")
    print(f"  pymatching from_detector_error_model {peer_build * 1e3:7.1f} ms (parse + graph)")
    for family in (vx.UnionFindDecoder, vx.BlossomDecoder, vx.LookupTableDecoder):
        build, _ = best_seconds(lambda: family.from_detector_error_model(model), repeats=1)
        print(f"  {family.__name__}.from_detector_error_model(model) {build * 1e3:8.1f} ms")


def prediction_rows(distances, noises, n_shots):
    families = [("uf", vx.UnionFindDecoder), ("blossom", vx.BlossomDecoder), ("lookup", vx.LookupTableDecoder)]
    print(f"\nprediction, {n_shots} bit-packed shots per row; peer = pymatching {pymatching.__version__} decode_batch")
    print(f"{'row':34} {'ours shots/s':>13} {'peer shots/s':>13} {'ratio':>7} {'ours LER':>9} {'peer LER':>9}")
    for d in distances:
        for p in noises:
            circuit = surface_circuit(d, p)
            dem = circuit.detector_error_model(decompose_errors=True)
            dets, obs = circuit.compile_detector_sampler(seed=SEED).sample(
                n_shots, separate_observables=True, bit_packed=True)
            matching = pymatching.Matching.from_detector_error_model(dem)
            peer_rate, peer_pred = shots_per_second(
                lambda s: matching.decode_batch(s, bit_packed_shots=True, bit_packed_predictions=True), dets)
            peer_ler = logical_error_rate(peer_pred, obs)
            for name, family in families:
                decoder = family.from_detector_error_model(dem)
                rate, pred = shots_per_second(lambda s: decoder.predict_observables_batch(s, bit_packed=True), dets)
                print(f"{'dem_' + name + f'_rotated_d{d}_p{p}':34} {rate:13,.0f} {peer_rate:13,.0f} "
                      f"{rate / peer_rate:7.2f} {logical_error_rate(pred, obs):9.5f} {peer_ler:9.5f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=20000)
    parser.add_argument("--distances", type=int, nargs="+", default=[3, 5, 7, 9])
    parser.add_argument("--noises", type=float, nargs="+", default=[0.001, 0.005])
    args = parser.parse_args()
    reader_rows()
    prediction_rows(args.distances, args.noises, args.shots)


if __name__ == "__main__":
    main()
