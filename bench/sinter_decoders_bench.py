"""sinter decoders of this library against sinter's pymatching decoder, on the same bit-packed shots, in one run.

Rows are named by circuit (`rotated_x_d5_r5_p0.005`); each decoder is compiled
for the circuit's model through sinter's interface and decodes the same
stim-sampled shots with `decode_shots_bit_packed`, as a sinter worker does.
Reports shots/s, the ratio ours/pymatching (above 1 means we are faster), the
logical error rate and the share of shots whose prediction equals pymatching's.

    PYTHONPATH=build/dev:python python3 bench/sinter_decoders_bench.py [--shots N] [--families uf blossom]
"""
import argparse
import time

import numpy as np
import sinter
import stim

import vornex_tools

CIRCUITS = [(3, 0.003), (5, 0.003), (5, 0.007), (7, 0.005), (9, 0.005)]


def surface_circuit(d, p):
    return stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                  after_clifford_depolarization=p, after_reset_flip_probability=p,
                                  before_measure_flip_probability=p, before_round_data_depolarization=p)


def timed_decode(decoder, dem, packed):
    compiled = decoder.compile_decoder_for_dem(dem=dem)
    compiled.decode_shots_bit_packed(bit_packed_detection_event_data=packed[:256])  # warm caches and pools
    start = time.perf_counter()
    predictions = compiled.decode_shots_bit_packed(bit_packed_detection_event_data=packed)
    return predictions, time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", type=int, default=20_000)
    parser.add_argument("--families", nargs="*", help="families to run (default: all)")
    args = parser.parse_args()
    ours = {name: dec for name, dec in vornex_tools.sinter_decoders().items()
            if not args.families or name.removeprefix("vornex_") in args.families}
    reference = sinter.BUILT_IN_DECODERS["pymatching"]
    print(f"{'case':<26} {'decoder':<24} {'shots/s':>10} {'ratio':>7} {'LER':>8} {'same as pm':>10}")
    for d, p in CIRCUITS:
        circuit = surface_circuit(d, p)
        dem = circuit.detector_error_model(decompose_errors=True)
        dets, obs = circuit.compile_detector_sampler(seed=d).sample(args.shots, separate_observables=True,
                                                                    bit_packed=True)
        expected, reference_seconds = timed_decode(reference, dem, dets)
        case = f"rotated_x_d{d}_r{d}_p{p}"
        rows = [("pymatching", expected, reference_seconds)]
        rows += [(name, *timed_decode(decoder, dem, dets)) for name, decoder in ours.items()]
        for name, predictions, seconds in rows:
            errors = np.count_nonzero(np.any(predictions != obs, axis=1))
            same = np.mean(np.all(predictions == expected, axis=1))
            print(f"{case:<26} {name:<24} {args.shots / seconds:>10,.0f} {reference_seconds / seconds:>7.2f} "
                  f"{errors / args.shots:>8.4f} {same:>10.4f}")


if __name__ == "__main__":
    main()
