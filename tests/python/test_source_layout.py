"""The floors and doors of src/ (ARCHITECTURE.md), checked on every include.

- The ground floor (base/) includes nothing above it; the floors of codes
  (code/) and models (dem/) include only what is below them.
- A decoder family (uf, matching, bp, learned, gpu) reaches another family
  only through that family's doors, the headers listed in DOORS; the insides
  of a family (an engine's folder, its workspaces) are its own.
- The binding frame (module/) is included only by bindings (`*_py.cpp`) and
  the frame itself; the core never sees Python.

A new crossing fails here with the file and the include; if it is a new door
on purpose, add it to DOORS and to ARCHITECTURE.md together.
"""
import pathlib
import re

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"

GROUND = {"base"}
LOWER_FLOORS = {"code": {"base"}, "dem": {"base", "code"}}
FAMILIES = {"uf", "matching", "bp", "learned", "gpu"}
TOP = {"evaluation", "server"}

# The headers through which other families (and the top floor) reach a family.
DOORS = {
    "uf": {"uf/decoder.h", "uf/uf_core.h", "uf/weighted_decoder.h", "uf/lookup_table.h"},
    "matching": {"matching/blossom.h", "matching/sparse_blossom.h", "matching/matching_decoder.h",
                 "matching/edge_matcher.h", "matching/exact_matcher.h", "matching/model_graph.h",
                 "matching/belief_matching.h"},
    "bp": {"bp/belief_propagation.h", "bp/restricted_bp.h", "bp/bp_settings.h", "bp/tanner_graph.h", "bp/bp_osd.h",
           "bp/bp_osd_family.h", "bp/relay_bp_family.h", "bp/bp_arguments_py.h"},
    "learned": {"learned/gnn_predecoder.h", "learned/gnn_trainer.h", "learned/hybrid_decoder.h",
                "learned/learned_matching.h"},
    "gpu": {"gpu/cuda_batch.h"},
    "evaluation": {"evaluation/benchmark.h", "evaluation/ler_benchmark.h"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def _sources():
    for path in sorted(SRC.rglob("*")):
        if path.suffix in {".h", ".cpp", ".cu", ".c"}:
            yield path, path.relative_to(SRC)


def crossings():
    """Every include that breaks a rule, as 'file -> header: why'."""
    bad = []
    for path, rel in _sources():
        room = rel.parts[0]
        binding = rel.name.endswith("_py.cpp") or rel.name.endswith("_py.h") or room == "module"
        for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = header.split("/")[0]
            if target == room or not (SRC / header).exists():
                continue
            if target == "module":
                if not binding:
                    bad.append(f"{rel} -> {header}: only bindings include the binding frame")
            elif room in GROUND:
                bad.append(f"{rel} -> {header}: the ground floor includes nothing above it")
            elif room in LOWER_FLOORS:
                if target not in LOWER_FLOORS[room]:
                    bad.append(f"{rel} -> {header}: {room}/ stands below {target}/")
            elif target in FAMILIES | {"evaluation"} and header not in DOORS[target]:
                bad.append(f"{rel} -> {header}: not a door of {target}/")
            elif target in TOP and room not in TOP | {"module"}:
                bad.append(f"{rel} -> {header}: {target}/ stands above {room}/")
    return bad


def test_no_include_crosses_a_floor_or_a_family_wall():
    assert crossings() == []


def test_the_check_sees_a_crossing():
    # The rules above would pass an empty tree; make sure they read this one.
    rooms = {rel.parts[0] for _, rel in _sources()}
    assert GROUND | set(LOWER_FLOORS) | FAMILIES | TOP | {"module"} <= rooms
    assert all((SRC / door).exists() for doors in DOORS.values() for door in doors)
