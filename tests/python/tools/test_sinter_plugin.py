"""The sinter plugin: compiled decoders against the family's own predictions, pickling, sinter.collect
against pymatching, and sinter's command line."""
import math
import pathlib
import pickle
import subprocess
import sys

import numpy as np
import pytest

import vornex_tools
from vornex_tools import available_families, build_decoder

stim = pytest.importorskip("stim")
sinter = pytest.importorskip("sinter")
pytest.importorskip("pymatching")

# Families that find a minimum-weight matching, so their error counts must agree with pymatching's.
MATCHING_FAMILIES = ("blossom", "matching")
# Built from every error mechanism of the model, far too large for circuit-level models.
SMALL_MODELS_ONLY = ("lookup",)


def surface_circuit(distance, p, rounds=3):
    return stim.Circuit.generated("surface_code:rotated_memory_x", distance=distance, rounds=rounds,
                                  after_clifford_depolarization=p, before_measure_flip_probability=p,
                                  after_reset_flip_probability=p, before_round_data_depolarization=p)


def circuit_families():
    return [f for f in available_families() if f not in SMALL_MODELS_ONLY]


def test_every_family_has_an_entry():
    decoders = vornex_tools.sinter_decoders()
    assert {"vornex_uf", "vornex_blossom"} <= set(decoders)
    assert list(decoders) == [f"vornex_{family}" for family in available_families()]
    assert all(isinstance(decoder, sinter.Decoder) for decoder in decoders.values())


@pytest.mark.parametrize("family", circuit_families())
def test_compiled_decoder_predicts_what_the_family_predicts(family):
    circuit = surface_circuit(3, 0.01)
    dem = circuit.detector_error_model(decompose_errors=True)
    dets, _ = circuit.compile_detector_sampler(seed=7).sample(3000, separate_observables=True)
    # Pickled and restored, as sinter hands it to a worker process.
    plugin = pickle.loads(pickle.dumps(vornex_tools.sinter_decoders()[f"vornex_{family}"]))
    compiled = plugin.compile_decoder_for_dem(dem=dem)
    packed = compiled.decode_shots_bit_packed(bit_packed_detection_event_data=np.packbits(dets, axis=1,
                                                                                          bitorder="little"))
    assert packed.dtype == np.uint8 and packed.shape == (3000, 1)
    expected = build_decoder(family, dem).predict_observables_batch(dets)
    assert np.array_equal(np.unpackbits(packed, axis=1, count=1, bitorder="little"), expected)


def test_model_without_observables_predicts_empty_rows():
    dem = stim.DetectorErrorModel("error(0.1) D0 D1\nerror(0.1) D1\n")
    compiled = vornex_tools.sinter_decoders()["vornex_uf"].compile_decoder_for_dem(dem=dem)
    out = compiled.decode_shots_bit_packed(bit_packed_detection_event_data=np.zeros((4, 1), np.uint8))
    assert out.shape == (4, 0) and out.dtype == np.uint8


def test_collect_agrees_with_pymatching():
    tasks = [sinter.Task(circuit=surface_circuit(d, 0.006), json_metadata={"d": d}) for d in (3, 5)]
    decoders = ["pymatching"] + [f"vornex_{f}" for f in circuit_families()]
    stats = sinter.collect(num_workers=2, tasks=tasks, decoders=decoders, max_shots=20_000, max_errors=100_000,
                           custom_decoders=vornex_tools.sinter_decoders())
    by_key = {(s.decoder, s.json_metadata["d"]): s for s in stats}
    assert len(by_key) == len(decoders) * 2
    for d in (3, 5):
        reference = by_key["pymatching", d]
        assert reference.errors > 50, "too few errors to compare"
        for family in circuit_families():
            ours = by_key[f"vornex_{family}", d]
            assert ours.shots == 20_000
            # Two independent samples: the difference of the counts has variance about their sum.
            tolerance = 5 * math.sqrt(ours.errors + reference.errors)
            if family in MATCHING_FAMILIES:
                assert abs(ours.errors - reference.errors) <= tolerance, (family, d, ours.errors, reference.errors)
            else:  # approximate decoders may lose some accuracy, but not most of it
                assert ours.errors <= 3 * reference.errors + tolerance, (family, d, ours.errors, reference.errors)


def test_sinter_command_line_finds_the_plugin(tmp_path):
    circuit_path = tmp_path / "d3.stim"
    surface_circuit(3, 0.01).to_file(circuit_path)
    csv = tmp_path / "stats.csv"
    command = pathlib.Path(sys.executable).with_name("sinter")
    if not command.exists():
        pytest.skip("sinter's command is not installed beside this interpreter")
    subprocess.run([str(command), "collect", "--circuits", str(circuit_path),
                    "--decoders", "vornex_uf", "vornex_blossom",
                    "--custom_decoders_module_function", "vornex_tools:sinter_decoders",
                    "--max_shots", "3000", "--max_errors", "100000", "--processes", "1", "--quiet",
                    "--save_resume_filepath", str(csv)], check=True, capture_output=True, timeout=300)
    stats = sinter.read_stats_from_csv_files(csv)
    assert sorted(s.decoder for s in stats) == ["vornex_blossom", "vornex_uf"]
    assert all(s.shots == 3000 and 0 < s.errors < 3000 for s in stats)
