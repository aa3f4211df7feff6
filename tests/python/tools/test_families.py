"""The family table: one name per family everywhere, older names accepted, options in the shared spec syntax."""
import numpy as np
import pytest

import vornex_decoder_v3 as vx
from vornex_tools import families
from vornex_tools.families import build_decoder, find_family, parse_decoder_spec

stim = pytest.importorskip("stim")


def test_every_model_built_class_has_one_row():
    built = {name for name in dir(vx) if hasattr(getattr(vx, name), "from_detector_error_model")}
    assert {f.class_name for f in families.family_table()} == built
    assert families.family_table()[0].name == families.DEFAULT_FAMILY == "matching"
    for family in families.family_table():
        for name in (family.name, family.sinter_name, *family.aliases, *(f"vornex_{a}" for a in family.aliases)):
            assert find_family(name) is family
    assert find_family("union_find").name == "uf" and find_family("weighted_union_find").name == "weighted_uf"
    with pytest.raises(ValueError, match=r"^unknown decoder family 'pymatching'; available: matching, uf, "):
        find_family("pymatching")


def test_options_reach_the_family_and_its_own_errors_come_back():
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=3, rounds=2,
                                     after_clifford_depolarization=0.03)
    dem = circuit.detector_error_model(decompose_errors=True)
    dets = circuit.compile_detector_sampler(seed=3).sample(500).astype(np.uint8)
    spec = parse_decoder_spec("bposd: osd_order = 4,max_iter=7,osd_method=osd_cs, ms_scaling_factor=1")
    assert spec.options == {"osd_order": 4, "max_iter": 7, "osd_method": "osd_cs", "ms_scaling_factor": 1}
    assert spec.text("vornex_") == "vornex_bposd:osd_order=4,max_iter=7,osd_method=osd_cs,ms_scaling_factor=1"
    direct = vx.BPOSDDecoder.from_detector_error_model(dem, osd_order=4, max_iter=7, osd_method="osd_cs",
                                                       ms_scaling_factor=1.0)
    for decoder in (spec.build(dem),
                    build_decoder("vornex_bposd:osd_order=4,max_iter=7,osd_method=osd_cs,ms_scaling_factor=1", dem)):
        assert np.array_equal(decoder.predict_observables_batch(dets), direct.predict_observables_batch(dets))

    def refusal(text):
        with pytest.raises(ValueError) as raised:
            parse_decoder_spec(text)
        return str(raised.value)

    def family_text(**options):
        with pytest.raises((TypeError, ValueError, OverflowError)) as raised:
            vx.BPOSDDecoder.from_detector_error_model(families.PROBE_MODEL, **options)
        return str(raised.value)

    assert refusal("bposd:osd_order=x") == f"decoder 'bposd:osd_order=x': {family_text(osd_order='x')}"
    assert refusal("bposd:nope=1") == f"decoder 'bposd:nope=1': {family_text(nope=1)}"
    assert refusal("matching:x=1").endswith("got an unexpected keyword argument 'x'")
    assert refusal("bposd:osd_order") == ("decoder 'bposd:osd_order': options are key=value pairs separated by "
                                          "commas, got 'osd_order'")
    assert refusal("bposd:").endswith("options are key=value pairs separated by commas, got ''")
    assert refusal("bposd:max_iter=3,max_iter=4").endswith(": option max_iter given twice")
    assert refusal("nope:max_iter=3").startswith("unknown decoder family 'nope'")


def test_specs_and_sinter_start_from_the_model_entry_point_defaults():
    import vornex_tools
    circuit = stim.Circuit.generated("color_code:memory_xyz", distance=3, rounds=3,
                                     after_clifford_depolarization=0.01, before_measure_flip_probability=0.01)
    dem = circuit.detector_error_model()
    dets = circuit.compile_detector_sampler(seed=5).sample(300).astype(np.uint8)
    packed = np.packbits(dets, axis=1, bitorder="little")

    def predictions(decoder):
        return decoder.predict_observables_batch(dets)
    default = predictions(vx.BPOSDDecoder.from_detector_error_model(dem))
    sinter_bposd = vornex_tools.sinter_decoders()["vornex_bposd"].compile_decoder_for_dem(dem=dem)
    assert np.array_equal(sinter_bposd.decode_shots_bit_packed(bit_packed_detection_event_data=packed),
                          np.packbits(default, axis=1, bitorder="little"))
    assert np.array_equal(predictions(parse_decoder_spec("bposd:max_iter=50").build(dem)), default)
    # Options given on top replace those defaults, one by one.
    spec = "vornex_bposd:stop=posterior,ms_scaling_factor=1,osd_method=osd_0"
    explicit = predictions(vx.BPOSDDecoder.from_detector_error_model(dem, stop="posterior", ms_scaling_factor=1.0,
                                                                       osd_method="osd_0"))
    assert not np.array_equal(explicit, default)
    compiled = vornex_tools.sinter_decoders()[spec].compile_decoder_for_dem(dem=dem)
    assert np.array_equal(predictions(build_decoder(spec, dem)), explicit)
    assert np.array_equal(compiled.decode_shots_bit_packed(bit_packed_detection_event_data=packed),
                          np.packbits(explicit, axis=1, bitorder="little"))


def test_graph_families_name_the_families_that_accept_hyperedges():
    with pytest.raises(ValueError) as raised:
        build_decoder("matching", "error(0.1) D0 D1 D2 L0")
    assert str(raised.value).endswith(", or decode with a family that accepts hyperedges: "
                                      + ", ".join(families.hyperedge_families()))
    for name in families.hyperedge_families():
        build_decoder(name, "error(0.1) D0 D1 D2 L0")
