"""The type stubs describe the module as it is: the same classes, functions,
methods and properties, and parameters with the same names, kinds and
defaults as the runtime text signatures (regenerate with scripts/write_stubs.py)."""
import ast
import inspect
import pathlib

import vornex_decoder_v3 as vx

STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "vornex_decoder_v3.pyi"


def stub_parameters(node, skip_first):
    """(name, kind, default) per parameter of a stub function."""
    a = node.args
    positional = a.posonlyargs + a.args
    defaults = [None] * (len(positional) - len(a.defaults)) + [ast.literal_eval(d) for d in a.defaults]
    params = [(p.arg, "positional", d) for p, d in zip(positional, defaults)]
    params += [(p.arg, "keyword", None if d is None else ast.literal_eval(d))
               for p, d in zip(a.kwonlyargs, a.kw_defaults)]
    return params[1:] if skip_first else params


def runtime_parameters(obj, skip_first):
    params = list(inspect.signature(obj).parameters.values())
    if skip_first and params and params[0].name in ("self", "cls", "type", "module"):
        params = params[1:]
    kinds = {inspect.Parameter.KEYWORD_ONLY: "keyword"}
    return [(p.name, kinds.get(p.kind, "positional"), None if p.default is p.empty else p.default) for p in params]


def stub_tree():
    return ast.parse(STUBS.read_text())


def runtime_public():
    return {name: obj for name, obj in vars(vx).items() if not name.startswith("__")}


def test_same_classes_and_functions():
    stubbed = {node.name for node in stub_tree().body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    assert stubbed == set(runtime_public())


def test_function_signatures():
    for node in stub_tree().body:
        if isinstance(node, ast.FunctionDef):
            assert stub_parameters(node, False) == runtime_parameters(getattr(vx, node.name), False), node.name


def test_class_members_and_signatures():
    for cls_node in stub_tree().body:
        if not isinstance(cls_node, ast.ClassDef):
            continue
        cls = getattr(vx, cls_node.name)
        if issubclass(cls, BaseException):
            continue
        members = {}
        for node in cls_node.body:
            if not isinstance(node, ast.FunctionDef):
                continue
            decorators = {ast.unparse(d) for d in node.decorator_list}
            if node.name == "__init__":
                assert stub_parameters(node, True) == runtime_parameters(cls, False), cls_node.name
            elif "property" in decorators:
                members[node.name] = "property"
            elif not any(d.endswith(".setter") for d in decorators):
                members[node.name] = "method"
                runtime = getattr(cls, node.name)
                skip_first = "staticmethod" not in decorators
                assert stub_parameters(node, skip_first) == runtime_parameters(runtime, skip_first), \
                    f"{cls_node.name}.{node.name}"
        runtime_members = {
            name: "property" if type(value).__name__ == "getset_descriptor" else "method"
            for name, value in vars(cls).items() if not name.startswith("_")
        }
        assert members == runtime_members, cls_node.name
