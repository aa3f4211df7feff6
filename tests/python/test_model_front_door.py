"""Every family built from a detector error model takes its model through the
same door: the same forms (text, path, pathlib.Path, the module's
DetectorErrorModel, a stim.DetectorErrorModel) give the same decoder, and the
same mistakes give the same errors."""
import pathlib

import numpy as np
import pytest
import stim

import vornex_decoder_v3 as vx

FAMILIES = sorted(name for name in dir(vx)
                  if isinstance(getattr(vx, name), type) and hasattr(getattr(vx, name), "from_detector_error_model"))


def _circuit():
    return stim.Circuit.generated("repetition_code:memory", distance=3, rounds=3,
                                  after_clifford_depolarization=0.02, before_measure_flip_probability=0.02)


@pytest.mark.parametrize("family", FAMILIES)
def test_every_model_form_builds_the_same_decoder(family, tmp_path):
    circuit = _circuit()
    dem = circuit.detector_error_model(decompose_errors=True)
    path = tmp_path / "model.dem"
    path.write_text(str(dem))
    build = getattr(vx, family).from_detector_error_model
    forms = [dem, str(dem), path, pathlib.PurePath(path), vx.DetectorErrorModel(str(dem))]
    events = circuit.compile_detector_sampler(seed=5).sample(64).astype(np.uint8)
    expected = build(forms[0]).predict_observables_batch(events)
    for form in forms[1:]:
        assert np.array_equal(build(form).predict_observables_batch(events), expected), type(form)


@pytest.mark.parametrize("family", FAMILIES)
def test_every_family_refuses_the_same_mistakes_alike(family, tmp_path):
    build = getattr(vx, family).from_detector_error_model
    with pytest.raises(FileNotFoundError):
        build(tmp_path / "missing.dem")
    empty = tmp_path / "empty.dem"
    empty.write_text("")
    for model in ("", empty, vx.DetectorErrorModel("")):
        with pytest.raises(ValueError) as error:
            build(model)
        assert str(error.value) == \
            "argument 'model': the detector error model is empty (no error mechanisms and no detectors)"
    with pytest.raises(TypeError, match="^argument 'model': expected DetectorErrorModel"):
        build(3)


def test_model_files_are_read_with_a_size_bound():
    with pytest.raises(ValueError) as error:
        vx.MatchingDecoder.from_detector_error_model(pathlib.Path("/dev/zero"))
    assert str(error.value) == \
        "model file '/dev/zero' is larger than the 268435456-byte limit of a detector error model"


def test_declared_detector_counts_are_checked_against_the_memory_budget(monkeypatch):
    # 27 bytes of text declaring 2**26 detectors: every family refuses it
    # before sizing anything by that count.
    tiny_model_of_many_detectors = "error(0.1) D0 D67108863 L0"
    for family in FAMILIES:
        with pytest.raises(MemoryError, match="^the model declares 67108864 detectors; .* budget of 2.0 GiB"):
            getattr(vx, family).from_detector_error_model(tiny_model_of_many_detectors)
    # The budget is read on each build: a small one refuses an ordinary model,
    # a larger one (or an unreadable setting, which keeps the default) lets it build.
    dem = stim.Circuit.generated("repetition_code:memory", distance=5, rounds=5,
                                 after_clifford_depolarization=0.02).detector_error_model(decompose_errors=True)
    monkeypatch.setenv("VORNEX_MEMORY_BUDGET", "1K")
    with pytest.raises(MemoryError, match="^the model declares 24 detectors; a matching decoder .* budget of 1.0 KiB"):
        vx.MatchingDecoder.from_detector_error_model(dem)
    for budget in ("1M", "2048", "-5", "lots"):
        monkeypatch.setenv("VORNEX_MEMORY_BUDGET", budget)
        vx.MatchingDecoder.from_detector_error_model(dem)
