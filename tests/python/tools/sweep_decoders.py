"""Decoders for the sweep tests, importable by Dask workers started with this folder on PYTHONPATH."""
import os
import time

import numpy as np
import sinter

from vornex_tools.sinter_plugin import VornexSinterDecoder

# Seconds each decode call of `slow_matching` waits, so that a worker is busy when a test stops it.
SLOW_SECONDS = 0.15


def _matching(dem):
    return VornexSinterDecoder("matching").compile_decoder_for_dem(dem=dem)


class _Wrapped(sinter.CompiledDecoder):
    """The library's compiled matching decoder with `before_decode` run ahead of every call."""

    def __init__(self, inner, before_decode):
        self.inner = inner
        self.before_decode = before_decode

    def decode_shots_bit_packed(self, *, bit_packed_detection_event_data):
        self.before_decode()
        return self.inner.decode_shots_bit_packed(bit_packed_detection_event_data=bit_packed_detection_event_data)


class SlowDecoder(sinter.Decoder):
    """This library's matching decoder, taking SLOW_SECONDS longer per call."""

    def compile_decoder_for_dem(self, *, dem):
        return _Wrapped(_matching(dem), lambda: time.sleep(SLOW_SECONDS))


class FilesOnlyDecoder(sinter.Decoder):
    """This library's matching decoder offered only through files, as older sinter decoders are."""

    def compile_decoder_for_dem(self, *, dem):
        raise NotImplementedError

    def decode_via_files(self, *, num_shots, num_dets, num_obs, dem_path, dets_b8_in_path,
                         obs_predictions_b8_out_path, tmp_dir):
        import stim
        compiled = VornexSinterDecoder("matching").compile_decoder_for_dem(
            dem=stim.DetectorErrorModel.from_file(dem_path))
        events = np.fromfile(dets_b8_in_path, dtype=np.uint8).reshape(num_shots, (num_dets + 7) // 8)
        predicted = compiled.decode_shots_bit_packed(bit_packed_detection_event_data=events)
        predicted.astype(np.uint8).tofile(obs_predictions_b8_out_path)


class PaddedDecoder(sinter.Decoder):
    """This library's matching decoder with every padding bit of its packed predictions set."""

    def compile_decoder_for_dem(self, *, dem):
        return _Padded(_matching(dem), dem.num_observables)


class _Padded(sinter.CompiledDecoder):
    def __init__(self, inner, num_observables):
        self.inner = inner
        self.padding = np.uint8(0xFF ^ ((1 << (num_observables % 8 or 8)) - 1))

    def decode_shots_bit_packed(self, *, bit_packed_detection_event_data):
        predicted = self.inner.decode_shots_bit_packed(bit_packed_detection_event_data=bit_packed_detection_event_data)
        predicted[:, -1] |= self.padding
        return predicted


def _die_once():
    marker = os.environ["SWEEP_TEST_DIE_MARKER"]
    if not os.path.exists(marker):
        open(marker, "w").close()
        os._exit(3)


class DiesOnceDecoder(sinter.Decoder):
    """This library's matching decoder whose first decode anywhere ends its process (the marker file says it did)."""

    def compile_decoder_for_dem(self, *, dem):
        return _Wrapped(_matching(dem), _die_once)


def custom_decoders():
    return {"slow_matching": SlowDecoder(), "files_matching": FilesOnlyDecoder(), "dies_once": DiesOnceDecoder()}


class CountingDecoder(sinter.Decoder):
    """This library's matching decoder, counting the models it is compiled for (in this process)."""
    compiled = 0

    def compile_decoder_for_dem(self, *, dem):
        CountingDecoder.compiled += 1
        return _matching(dem)
