"""The type stub and the module's own declarations name the same methods
with the same parameters and defaults: every method's __text_signature__
(and each constructor's, on the class) is compared with the stub, parsed."""
import ast
import pathlib

import pytest

import sandrig

STUB = pathlib.Path(__file__).resolve().parents[2] / "src" / "pybinding" / "sandrig.pyi"


def stub_classes():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def stub_functions(class_node):
    return {node.name: node for node in class_node.body if isinstance(node, ast.FunctionDef)}


def stub_parameters(function):
    """(name, default) pairs after self/cls; default is the literal or a marker."""
    arguments = function.args
    assert not arguments.kwonlyargs and arguments.vararg is None and arguments.kwarg is None
    positional = arguments.posonlyargs + arguments.args
    defaults = [REQUIRED] * (len(positional) - len(arguments.defaults)) + [
        ast.literal_eval(default) for default in arguments.defaults]
    return [(argument.arg, default) for argument, default in zip(positional, defaults)][1:]


REQUIRED = object()


def runtime_parameters(text_signature, receiver):
    """The same pairs from a text signature such as "($self, path, recurse=False)"."""
    assert text_signature.startswith("(") and text_signature.endswith(")"), text_signature
    inner = text_signature[1:-1]
    parts = [part for part in inner.split(", ") if part] if inner else []
    if receiver:
        assert parts and parts[0] == receiver, text_signature
        parts = parts[1:]
    pairs = []
    for part in parts:
        name, equals, default = part.partition("=")
        pairs.append((name, ast.literal_eval(default) if equals else REQUIRED))
    return pairs


def declared_methods(cls):
    """The methods the module declares: public names whose value carries a text signature."""
    return {name for name in vars(cls)
            if not name.startswith("_") and getattr(getattr(cls, name), "__text_signature__", None)}


CLASSES = sorted(stub_classes())


def test_stub_and_module_name_the_same_classes():
    public = {name for name in dir(sandrig) if not name.startswith("_")}
    assert set(CLASSES) == public


@pytest.mark.parametrize("class_name", CLASSES)
def test_stub_names_the_declared_methods(class_name):
    cls = getattr(sandrig, class_name)
    stubbed = {name for name in stub_functions(stub_classes()[class_name]) if not name.startswith("_")}
    assert stubbed == declared_methods(cls)


@pytest.mark.parametrize("class_name, method_name", [
    (class_name, method_name)
    for class_name in CLASSES
    for method_name in sorted(stub_functions(stub_classes()[class_name]))
    if not method_name.startswith("_")
])
def test_method_parameters_agree(class_name, method_name):
    stubbed = stub_functions(stub_classes()[class_name])[method_name]
    method = getattr(getattr(sandrig, class_name), method_name)
    assert stub_parameters(stubbed) == runtime_parameters(method.__text_signature__, "$self")


@pytest.mark.parametrize("class_name", CLASSES)
def test_constructor_parameters_agree(class_name):
    cls = getattr(sandrig, class_name)
    constructor = stub_functions(stub_classes()[class_name]).get("__new__")
    if constructor is None:
        # Not constructible from Python: the class has no text signature.
        assert cls.__text_signature__ is None
        with pytest.raises(TypeError, match="No constructor defined"):
            cls()
    else:
        assert stub_parameters(constructor) == runtime_parameters(cls.__text_signature__, None)


@pytest.mark.parametrize("text, receiver, expected", [
    ("($self)", "$self", []),
    ("($self, path, recurse=False)", "$self", [("path", REQUIRED), ("recurse", False)]),
    ("()", None, []),
    ("(user_count=None)", None, [("user_count", None)]),
])
def test_text_signature_parsing(text, receiver, expected):
    assert runtime_parameters(text, receiver) == expected
