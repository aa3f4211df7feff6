"""Shot data files against Stim's own reader and writer, and the texts of malformed files."""
import itertools

import numpy as np
import pytest

from vornex_tools import FORMATS, ShotDataError, encode_shot_data, read_shot_data, write_shot_data

stim = pytest.importorskip("stim")

# (measurements, detectors, observables): widths around byte and word edges, and long zero runs for r8.
LAYOUTS = [(0, 0, 0), (0, 1, 0), (0, 7, 1), (0, 8, 0), (0, 9, 0), (0, 13, 2), (11, 0, 0), (0, 300, 0),
           (0, 1000, 3)]
# Empty, sparse (long zero runs), dense and full shots.
DENSITIES = (0.0, 0.003, 0.3, 1.0)


@pytest.mark.parametrize("fmt", FORMATS)
def test_round_trip_with_stim(tmp_path, fmt):
    rng = np.random.default_rng(len(fmt) * 7 + ord(fmt[0]))
    ours, theirs = tmp_path / "ours", tmp_path / "theirs"
    for shots, (m, d, o), density in itertools.product((0, 64, 192), LAYOUTS, DENSITIES):
        counts = dict(num_measurements=m, num_detectors=d, num_observables=o)
        bits = (rng.random((shots, m + d + o)) < density).astype(np.uint8)
        stim.write_shot_data_file(data=bits.astype(bool), path=str(theirs), format=fmt, **counts)
        read = read_shot_data(theirs, format=fmt, num_shots=shots, **counts)
        assert read.dtype == np.uint8 and np.array_equal(read, bits), (shots, m, d, o)
        packed = read_shot_data(theirs, format=fmt, num_shots=shots, bit_packed=True, **counts)
        assert np.array_equal(packed, np.packbits(bits, axis=1, bitorder="little"))

        write_shot_data(ours, bits, format=fmt, **counts)
        assert ours.read_bytes() == theirs.read_bytes(), (shots, m, d, o)
        write_shot_data(ours, packed, format=fmt, bit_packed=True, **counts)
        assert ours.read_bytes() == theirs.read_bytes(), (shots, m, d, o)
        write_shot_data(ours, bits.astype(bool), format=fmt, **counts)
        if m + d + o:  # stim cannot count zero-width shots in b8 and ptb64 files
            back = stim.read_shot_data_file(path=str(ours), format=fmt, **counts)
            assert np.array_equal(back, bits.astype(bool))


@pytest.mark.parametrize("fmt", FORMATS)
def test_empty_file_is_zero_shots(tmp_path, fmt):
    path = tmp_path / "empty"
    path.write_bytes(b"")
    assert read_shot_data(path, format=fmt, num_detectors=5).shape == (0, 5)
    assert read_shot_data(path, format=fmt, num_detectors=5, bit_packed=True).shape == (0, 1)
    assert encode_shot_data(np.zeros((0, 5), np.uint8), format=fmt, num_detectors=5) == b""


def test_r8_runs_at_the_byte_limit(tmp_path):
    """A run of 255 zeros or more spills into further bytes; a run of 254 does not."""
    bits = np.zeros((8, 600), dtype=np.uint8)
    for row, one in enumerate((0, 253, 254, 255, 256, 509, 510)):
        bits[row, one] = 1
    stim.write_shot_data_file(data=bits.astype(bool), path=str(tmp_path / "r8"), format="r8", num_detectors=600)
    assert encode_shot_data(bits, format="r8", num_detectors=600) == (tmp_path / "r8").read_bytes()
    assert np.array_equal(read_shot_data(tmp_path / "r8", format="r8", num_detectors=600), bits)


def test_zero_width_shots_keep_their_count():
    assert read_shot_data(b"\n\n\n", format="01").shape == (3, 0)
    assert read_shot_data(b"\0\0", format="r8").shape == (2, 0)
    assert read_shot_data(b"", format="b8", num_shots=4).shape == (4, 0)
    assert read_shot_data(b"", format="ptb64", num_shots=64).shape == (64, 0)


def test_windows_line_ends_are_read():
    assert read_shot_data(b"01\r\n10\r\n", format="01", num_detectors=2).tolist() == [[0, 1], [1, 0]]
    assert read_shot_data(b"1\r\n\r\n", format="hits", num_detectors=2).tolist() == [[0, 1], [0, 0]]


def test_padding_bits_of_packed_rows_are_cleared():
    assert read_shot_data(b"\xff\xff", format="b8", num_detectors=3).tolist() == [[1, 1, 1]] * 2
    assert read_shot_data(b"\xff", format="b8", num_detectors=3, bit_packed=True).tolist() == [[7]]
    assert encode_shot_data(np.array([[0xF9]], np.uint8), format="b8", num_detectors=3, bit_packed=True) == b"\x01"


@pytest.mark.parametrize("fmt, data, width, message", [
    ("01", b"0101\n011\n", 4, "01 data ended in the middle of a shot: 9 bytes is not a multiple of 5 "
                              "(4 bits and a newline per shot)"),
    ("01", b"011\n0110\n01\n", 3, "01 shot 1 does not have 3 bits followed by a newline"),
    ("01", b"010\n0x1\n", 3, "01 shot 1 has 'x' at bit 1; expected '0' or '1'"),
    ("b8", b"\0\0\0", 9, "b8 data ended in the middle of a shot: 3 bytes is not a multiple of 2 bytes per shot"),
    ("b8", b"\0", 0, "b8 data of zero-width shots must be empty, got 1 bytes"),
    ("r8", b"\x02\xff", 4, "r8 data ended in the middle of a shot (last run length byte is 255)"),
    ("r8", b"\x07", 4, "r8 data ended in the middle of a shot: it decodes to 8 bits, not a multiple of 5 "
                       "(4 bits and the implied one per shot)"),
    ("r8", b"\x00\x05\x02", 4, "r8 shot 0 does not end at bit 4 (runs cross the end of the shot)"),
    ("ptb64", b"\0" * 12, 2, "ptb64 data ended in the middle of a group of 64 shots: 12 bytes is not a multiple of 16"),
    ("hits", b"1,4\n", 4, "hits shot 0: index 4 is out of range (shots have 4 such bits)"),
    ("hits", b"\n1,,2\n", 4, "hits shot 1: '' is not a bit index"),
    ("hits", b"1", 4, "hits data ended in the middle of a shot (no newline at the end)"),
    ("dets", b"shot D1\nD2\n", 4, "dets shot 1 does not start with 'shot'"),
    ("dets", b"shot X1\n", 4, "dets shot 0: 'X1' does not start with M, D or L"),
    ("dets", b"shot D-1\n", 4, "dets shot 0: '-1' is not a bit index"),
    ("dets", b"shot D4\n", 4, "dets shot 0: index 4 is out of range (shots have 4 such bits)"),
    ("dets", b"shot L0\n", 4, "dets shot 0: index 0 is out of range (shots have 0 such bits)"),
])
def test_malformed_data_names_the_shot(fmt, data, width, message):
    with pytest.raises(ShotDataError) as e:
        read_shot_data(data, format=fmt, num_detectors=width)
    assert str(e.value) == message


def test_dets_kinds_land_in_their_ranges():
    bits = read_shot_data(b"shot M1 D0 L1\nshot D2\n", format="dets", num_measurements=2, num_detectors=3,
                          num_observables=2)
    assert bits.tolist() == [[0, 1, 1, 0, 0, 0, 1], [0, 0, 0, 0, 1, 0, 0]]


def test_bad_arguments(tmp_path):
    with pytest.raises(ValueError, match=r"^unknown shot data format 'b9'; expected one of 01, b8, r8, ptb64, "
                                         r"hits, dets$"):
        read_shot_data(b"", format="b9")
    with pytest.raises(ValueError, match=r"^bit counts must be non-negative integers, got -1$"):
        read_shot_data(b"", format="01", num_detectors=-1)
    with pytest.raises(ShotDataError, match=r"^cannot read shot data file '.*missing': No such file or directory$"):
        read_shot_data(tmp_path / "missing", format="01")
    with pytest.raises(ValueError, match=r"^shot data must have shape \(shots, 3\), got \(2, 4\)$"):
        encode_shot_data(np.zeros((2, 4), np.uint8), format="01", num_detectors=3)
    with pytest.raises(ValueError, match=r"^shot data must be uint8 or bool, got int64$"):
        encode_shot_data(np.zeros((2, 3), np.int64), format="01", num_detectors=3)
    with pytest.raises(ValueError, match=r"^shot data must hold only 0 and 1$"):
        encode_shot_data(np.full((2, 3), 2, np.uint8), format="r8", num_detectors=3)
    with pytest.raises(ValueError, match=r"^bit-packed shot data must be uint8 of shape \(shots, 2\), "
                                         r"got uint8 \(2, 1\)$"):
        encode_shot_data(np.zeros((2, 1), np.uint8), format="b8", num_detectors=9, bit_packed=True)
    with pytest.raises(ValueError, match=r"^ptb64 needs a multiple of 64 shots, got 3$"):
        encode_shot_data(np.zeros((3, 2), np.uint8), format="ptb64", num_detectors=2)
