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
# Families fast enough on circuit-level models for 20,000 shots in the test; the rest take 1,000.
FAST_FAMILIES = ("uf", "weighted_uf", "blossom", "matching", "lookup")


def surface_circuit(distance, p, rounds=3):
    return stim.Circuit.generated("surface_code:rotated_memory_x", distance=distance, rounds=rounds,
                                  after_clifford_depolarization=p, before_measure_flip_probability=p,
                                  after_reset_flip_probability=p, before_round_data_depolarization=p)


def test_every_family_has_an_entry():
    decoders = vornex_tools.sinter_decoders()
    assert {"vornex_uf", "vornex_blossom"} <= set(decoders)
    assert list(decoders) == [f"vornex_{family}" for family in available_families()]
    assert all(isinstance(decoder, sinter.Decoder) for decoder in decoders.values())


@pytest.mark.parametrize("family", available_families())
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
    expected = build_decoder(family, dem).predict_observables_batch(dets.view(np.uint8))
    assert np.array_equal(np.unpackbits(packed, axis=1, count=1, bitorder="little"), expected)


def test_model_without_observables_predicts_empty_rows():
    dem = stim.DetectorErrorModel("error(0.1) D0 D1\nerror(0.1) D1\n")
    compiled = vornex_tools.sinter_decoders()["vornex_uf"].compile_decoder_for_dem(dem=dem)
    out = compiled.decode_shots_bit_packed(bit_packed_detection_event_data=np.zeros((4, 1), np.uint8))
    assert out.shape == (4, 0) and out.dtype == np.uint8


def rate_and_variance(stat):
    rate = stat.errors / stat.shots
    return rate, rate * (1 - rate) / stat.shots


def test_collect_agrees_with_pymatching():
    tasks = []
    for d in (3, 5):
        circuit = surface_circuit(d, 0.006)
        tasks.append(sinter.Task(circuit=circuit, decoder="pymatching", json_metadata={"d": d}))
        for family in available_families():
            shots = 20_000 if family in FAST_FAMILIES else 1_000
            tasks.append(sinter.Task(circuit=circuit, decoder=f"vornex_{family}", json_metadata={"d": d},
                                     collection_options=sinter.CollectionOptions(max_shots=shots)))
    stats = sinter.collect(num_workers=2, tasks=tasks, max_shots=20_000, max_errors=100_000,
                           custom_decoders=vornex_tools.sinter_decoders())
    by_key = {(s.decoder, s.json_metadata["d"]): s for s in stats}
    assert len(by_key) == len(tasks)
    for d in (3, 5):
        reference = by_key["pymatching", d]
        assert reference.errors > 50, "too few errors to compare"
        reference_rate, reference_variance = rate_and_variance(reference)
        for family in available_families():
            ours = by_key[f"vornex_{family}", d]
            assert ours.shots == (20_000 if family in FAST_FAMILIES else 1_000)
            rate, variance = rate_and_variance(ours)
            # Independent samples: five standard deviations of the difference of the two rates.
            tolerance = 5 * math.sqrt(variance + reference_variance)
            if family in MATCHING_FAMILIES:
                assert abs(rate - reference_rate) <= tolerance, (family, d, ours, reference)
            else:  # approximate decoders may lose some accuracy, but not most of it
                assert rate <= 3 * reference_rate + tolerance, (family, d, ours, reference)


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


def test_other_names_and_options_are_looked_up_and_refusals_name_the_decoder():
    decoders = vornex_tools.sinter_decoders()
    assert "vornex_union_find" in decoders and decoders.get("vornex_union_find").family == "uf"
    assert "pymatching" not in decoders and "vornex_nope" not in decoders and decoders.get("uf") is None
    with pytest.raises(KeyError):
        decoders["vornex_nope:x=1"]
    with pytest.raises(ValueError, match=r"^decoder 'vornex_bposd:osd_order=x': "):
        decoders["vornex_bposd:osd_order=x"]
    # Pickled as sinter sends it to its workers, the lookups still work there.
    decoders = pickle.loads(pickle.dumps(decoders))
    assert decoders["vornex_bposd:osd_order=3,max_iter=5"].family_kwargs == {"osd_order": 3, "max_iter": 5}
    # A graph family meeting a colour code's hyperedges says who it is and which families take them.
    dem = stim.Circuit.generated("color_code:memory_xyz", distance=5, rounds=2,
                                 after_clifford_depolarization=0.01).detector_error_model()
    with pytest.raises(ValueError) as raised:
        decoders["vornex_matching"].compile_decoder_for_dem(dem=dem)
    assert str(raised.value).startswith("vornex_matching cannot decode this task's detector error model: line ")
    assert str(raised.value).endswith("hyperedges: " + ", ".join(vornex_tools.families.hyperedge_families()))


def test_collect_takes_a_decoder_with_options_by_name():
    circuit = surface_circuit(3, 0.01, rounds=2)
    stats = sinter.collect(num_workers=1, tasks=[sinter.Task(circuit=circuit, json_metadata={})],
                           decoders=["vornex_bposd:osd_order=2,max_iter=10"], max_shots=500,
                           custom_decoders=vornex_tools.sinter_decoders())
    assert [(s.decoder, s.shots) for s in stats] == [("vornex_bposd:osd_order=2,max_iter=10", 500)]
    assert 0 < stats[0].errors < 250
