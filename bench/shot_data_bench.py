"""Shot data files: vornex_tools against stim's reader and writer on the same shots, in one run.

Rows are named by format and shape (`r8_200000x500_p0.02`); the ratio is
stim's time over ours (above 1 means we are faster). Both sides go through
their Python entry points with a file on disk; stim takes and returns bool
arrays, so its side includes that conversion, as a caller would see it.

    PYTHONPATH=build/dev:python python3 bench/shot_data_bench.py
"""
import os
import tempfile
import time

import numpy as np
import stim

from vornex_tools import read_shot_data, write_shot_data

CASES = [(200_000, 500, 0.02), (20_000, 5_000, 0.002)]
FORMATS = ("01", "b8", "r8", "dets")
REPEATS = 3


def best_time(fn):
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    rng = np.random.default_rng(2026)
    print(f"{'case':<28} {'ours write':>10} {'stim write':>10} {'ratio':>6} {'ours read':>10} {'stim read':>10} "
          f"{'ratio':>6}")
    with tempfile.TemporaryDirectory() as folder:
        ours_path, stim_path = os.path.join(folder, "ours"), os.path.join(folder, "stim")
        for shots, width, density in CASES:
            bits = (rng.random((shots, width)) < density).astype(np.uint8)
            as_bool = bits.astype(bool)
            for fmt in FORMATS:
                ours_write = best_time(lambda: write_shot_data(ours_path, bits, format=fmt, num_detectors=width))
                stim_write = best_time(lambda: stim.write_shot_data_file(data=as_bool, path=stim_path, format=fmt,
                                                                         num_detectors=width))
                ours_read = best_time(lambda: read_shot_data(ours_path, format=fmt, num_detectors=width))
                stim_read = best_time(lambda: stim.read_shot_data_file(path=stim_path, format=fmt,
                                                                       num_detectors=width))
                # Both files must hold the same bytes, or the timings compare different work.
                with open(ours_path, "rb") as a, open(stim_path, "rb") as b:
                    assert a.read() == b.read(), fmt
                name = f"{fmt}_{shots}x{width}_p{density}"
                print(f"{name:<28} {ours_write:>9.3f}s {stim_write:>9.3f}s {stim_write / ours_write:>6.2f} "
                      f"{ours_read:>9.3f}s {stim_read:>9.3f}s {stim_read / ours_read:>6.2f}")


if __name__ == "__main__":
    main()
