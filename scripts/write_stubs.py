"""Writes python/vornex_decoder_v3.pyi from the built module's text signatures.

Run after adding or changing an entry point, then review the diff:
    PYTHONPATH=build/dev python3 scripts/write_stubs.py
Parameter and return types come from the tables below (by name); a name
missing from them is typed Any, which the review should catch.
"""
import inspect
import pathlib
import sys

import vornex_decoder_v3 as vx

OUT = pathlib.Path(__file__).resolve().parent.parent / "python" / "vornex_decoder_v3.pyi"

U8 = "npt.NDArray[np.uint8]"
F64 = "npt.NDArray[np.float64]"
CHECKS = "Sequence[Sequence[int]]"
PARAMETER_TYPES = {
    "check_to_qubits": CHECKS, "n_qubits": "int", "syndrome": "npt.ArrayLike", "syndromes": "npt.ArrayLike",
    "round_syndrome": "npt.ArrayLike", "edge_weights": "Sequence[tuple[int, float]] | None",
    "weights": "Sequence[tuple[int, float]]", "window_size": "int", "decay_factor": "float",
    "history_size": "int", "n_samples": "int", "seed": "int | None", "max_entries": "int",
    "error_rate": "float", "max_latency_ms": "float", "max_iterations": "int", "n_input": "int",
    "n_output": "int", "n_hidden1": "int", "n_hidden2": "int", "corrections": "npt.ArrayLike",
    "n_epochs": "int", "learning_rate": "float", "check_positions": "Sequence[tuple[float, float]] | None",
    "check_types": "Sequence[bool] | None", "base_weights": "Sequence[float] | None",
    "node_feat_dim": "int", "edge_feat_dim": "int", "hidden_size": "int", "n_layers": "int",
    "path": "str | os.PathLike[str]", "graph": "DetectorGraph", "graphs": "Sequence[DetectorGraph]",
    "targets": "Sequence[npt.ArrayLike]", "gnn": "GNNPredecoder", "max_bp_iter": "int", "bp_radius": "int | None",
    "gnn_hidden_size": "int | None", "gnn_n_layers": "int | None", "distance": "int",
    "progress": "Callable[[int, int], object] | bool | None", "error_probabilities": "npt.ArrayLike | None",
    "check_matrix": "npt.ArrayLike | Any", "detection_events": "npt.ArrayLike", "bit_packed": "bool",
    "model": "DetectorErrorModel | str | os.PathLike[str] | Any",
    "first_leg_strength": "float", "first_leg_iterations": "int", "leg_iterations": "int", "legs": "int",
    "strength_min": "float", "strength_max": "float", "solutions": "int", "solution_weight": "str",
    "fallback": "str", "enable_correlations": "bool", "reweight": "Sequence[tuple[int, float]] | None",
    "window": "int | None", "commit": "int | None", "detectors_per_round": "int | None", "rounds": "int | None",
    "round_events": "npt.ArrayLike", "events": "npt.ArrayLike", "final_round": "npt.ArrayLike | None",
    "with_edges": "bool", "parallel": "bool", "round": "int",
    "train_samples": "int", "train_seed": "int", "validation_shots": "int", "cache_dir": "str | None",
}
# Parameters whose type depends on the class that takes them.
CLASS_PARAMETER_TYPES = {
    ("MatchingDecoder", "weights"): "Sequence[float] | None",
    ("WeightedUnionFindDecoder", "weights"): "Sequence[float] | None",
}
RETURN_TYPES = {
    "decode": U8, "batch_decode": U8, "decode_with_weights": U8, "update": f"{U8} | None", "flush": U8,
    "parallel_batch_decode": U8, "batch_decode_simd": U8, "batch_decode_pooled": U8, "batch_decode_par": U8,
    "is_available": "bool", "reset": "None", "run": "str", "run_all": "str", "build_table": "int",
    "decode_timed": U8, "bp_decode": F64, "train": "float", "predict": F64, "update_syndrome": "None",
    "node_feature_dim": "int", "edge_feature_dim": "int", "save_weights": "None", "load_weights": "None",
    "forward": F64, "predict_with_node_probs": f"tuple[{F64}, {F64}]", "generate_dataset": "Any",
    "train_bp": "float", "decode_hybrid": U8, "decode_heuristic": U8, "decode_standard": U8,
    "batch_decode_hybrid": U8, "batch_decode_standard": U8, "py_check_to_edges": "list[tuple[int, int]]",
    "run_mcp_server": "None", "cuda_is_available": "bool", "decoder_families": "list[dict[str, Any]]",
    "predict_observables": U8, "predict_observables_batch": U8, "decode_report": "dict[str, Any]",
    "decode_to_edges": "npt.NDArray[np.int64]",
}
GENERATOR = "tuple[list[list[int]], int]"
STREAM_FLIPS = f"{U8} | tuple[{U8}, npt.NDArray[np.int64]]"
# Methods and properties whose type depends on the class that has them.
CLASS_RETURN_TYPES = {
    ("StreamMatchingDecoder", "update"): STREAM_FLIPS, ("StreamMatchingDecoder", "extend"): STREAM_FLIPS,
    ("StreamMatchingDecoder", "flush"): STREAM_FLIPS, ("StreamMatchingDecoder", "decode_stream"): U8,
    ("StreamMatchingDecoder", "round_size"): "int", ("StreamMatchingDecoder", "latency_stats"): "dict[str, float]",
    ("StreamMatchingDecoder", "clear_latency_stats"): "None", ("StreamMatchingDecoder", "num_detectors"): "int",
    ("StreamMatchingDecoder", "window"): "int", ("StreamMatchingDecoder", "commit"): "int",
    ("StreamMatchingDecoder", "rounds"): "int", ("StreamMatchingDecoder", "model_rounds"): "int",
}
# Properties with a setter (a getset descriptor does not tell without an instance).
SETTABLE = {("GNNPredecoder", "learning_rate"), ("GNNPredecoder", "l2_lambda")}
PROPERTY_TYPES = {
    "n_qubits": "int", "n_checks": "int", "edges": "list[tuple[int, int, float]]", "window_size": "int",
    "decay_factor": "float", "current_round": "int", "device_name": "str | None",
    "compute_capability": "tuple[int, int] | None", "consecutive_failures": "int", "total_failures": "int",
    "is_degraded": "bool", "gpu_recoveries": "int", "degraded_reason": "str | None", "table_size": "int", "n_input": "int", "n_output": "int",
    "n_hidden1": "int", "n_hidden2": "int", "n_nodes": "int", "n_edges": "int", "node_features": F64,
    "edge_features": F64, "edge_qubit_id": "npt.NDArray[np.uint32]", "edge_src": "npt.NDArray[np.uint32]",
    "edge_dst": "npt.NDArray[np.uint32]", "learning_rate": "float", "l2_lambda": "float", "distance": "int",
    "x_checks": "list[list[int]]", "z_checks": "list[list[int]]", "x_logical": "list[int]",
    "z_logical": "list[int]", "num_observables": "int", "enable_correlations": "bool",
}


def parameters_text(signature, skip_first, owner=None):
    parts, keyword_only_marked = [], False
    params = list(signature.parameters.values())
    if skip_first:
        params = params[1:]
        parts.append("self")
    for p in params:
        if p.kind is p.KEYWORD_ONLY and not keyword_only_marked:
            parts.append("*")
            keyword_only_marked = True
        annotation = CLASS_PARAMETER_TYPES.get((owner, p.name)) or PARAMETER_TYPES.get(p.name, "Any")
        if p.default is None and "None" not in annotation and annotation != "Any":
            annotation += " | None"
        text = f"{p.name}: {annotation}"
        if p.default is not p.empty:
            text += f" = {p.default!r}"
        parts.append(text)
    return ", ".join(parts)


def signature_of(obj):
    try:
        return inspect.signature(obj)
    except (TypeError, ValueError):
        return None


def function_lines(name, obj, indent, kind, returns=None, owner=None):
    sig = signature_of(obj)
    if returns is None:
        returns = CLASS_RETURN_TYPES.get((owner, name)) or (
            GENERATOR if name.startswith("py_generate_") else RETURN_TYPES.get(name, "Any"))
    lines = []
    if kind == "static":
        lines.append(f"{indent}@staticmethod")
        params = parameters_text(sig, False) if sig else "*args: Any, **kwargs: Any"
    elif kind == "class":
        lines.append(f"{indent}@classmethod")
        params = "cls, " + parameters_text(sig, False, owner) if sig else "cls, *args: Any, **kwargs: Any"
        params = params.rstrip(", ")
    else:
        params = parameters_text(sig, kind == "method", owner) if sig else "self, *args: Any, **kwargs: Any"
    lines.append(f"{indent}def {name}({params}) -> {returns}: ...")
    return lines


def class_lines(name, cls):
    if issubclass(cls, BaseException):
        return [f"class {name}({cls.__base__.__name__}): ..."]
    lines = [f"class {name}:"]
    sig = signature_of(cls)
    init_params = parameters_text(sig, False, name) if sig else ""
    lines.append(f"    def __init__(self{', ' if init_params else ''}{init_params}) -> None: ...")
    for attr, value in cls.__dict__.items():
        if attr.startswith("_"):
            continue
        if isinstance(value, staticmethod):
            lines += function_lines(attr, value.__func__, "    ", "static")
        elif isinstance(value, classmethod) or type(value).__name__ == "classmethod_descriptor":
            # Alternative constructors (from_*) build an object of their class.
            returns = f'"{name}"' if attr.startswith("from_") else None
            lines += function_lines(attr, getattr(cls, attr), "    ", "class", returns, name)
        elif type(value).__name__ == "getset_descriptor":
            lines.append("    @property")
            lines.append(f"    def {attr}(self) -> {CLASS_RETURN_TYPES.get((name, attr)) or PROPERTY_TYPES.get(attr, 'Any')}: ...")
            if (name, attr) in SETTABLE:
                lines.append(f"    @{attr}.setter")
                lines.append(f"    def {attr}(self, value: {PROPERTY_TYPES.get(attr, 'Any')}) -> None: ...")
        elif callable(value):
            lines += function_lines(attr, value, "    ", "method", owner=name)
    return lines


def main():
    out = ['"""Type stubs of the vornex_decoder_v3 extension module (written by scripts/write_stubs.py)."""',
           "import os", "from typing import Any, Callable, Sequence", "", "import numpy as np",
           "import numpy.typing as npt", "", "__version__: str", ""]
    for name, obj in vars(vx).items():
        if name.startswith("__"):
            continue
        if isinstance(obj, type):
            out += class_lines(name, obj) + [""]
        elif callable(obj):
            out += function_lines(name, obj, "", "function") + [""]
    OUT.write_text("\n".join(out).rstrip() + "\n")
    print(f"wrote {OUT}", file=sys.stderr)


if __name__ == "__main__":
    main()
