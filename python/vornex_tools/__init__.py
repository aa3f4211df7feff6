"""Tools on top of vornex_decoder_v3: shot data files in Stim's layouts, the `vornex` command and a sinter plugin."""
from __future__ import annotations

from .families import available_families, build_decoder
from .shot_data import FORMATS, ShotDataError, encode_shot_data, read_shot_data, write_shot_data

__all__ = ["FORMATS", "ShotDataError", "available_families", "build_decoder", "encode_shot_data",
           "read_shot_data", "sinter_decoders", "write_shot_data"]


def sinter_decoders() -> dict:
    """sinter custom decoders, `vornex_<family>` for every family (needs the `sinter` extra)."""
    # Imported here so that the rest of the package works without sinter installed.
    from .sinter_plugin import sinter_decoders as decoders
    return decoders()
