"""Type hints of the public surface: every function of ``tessarin.__all__`` annotated, and resolvable."""

import inspect
import os
import typing

import pytest

import tessarin


def _public_callables():
    for name in tessarin.__all__:
        obj = getattr(tessarin, name)
        if inspect.isfunction(obj):
            yield name, obj
        elif inspect.isclass(obj) and not issubclass(obj, BaseException):
            for attr, member in vars(obj).items():
                if isinstance(member, property):
                    member = member.fget
                elif isinstance(member, classmethod):
                    member = member.__func__
                if inspect.isfunction(member) and (attr == "__init__" or not attr.startswith("_")):
                    yield f"{name}.{attr}", member


def test_every_public_function_is_fully_annotated_and_its_hints_resolve():
    pandas = pytest.importorskip("pandas")
    checked = dict(_public_callables())
    assert {"read_spectra", "mirror_plot", "VIF", "predict_library", "Spectrum.to_dataframe"} <= set(checked)
    for name, fn in checked.items():
        signature = inspect.signature(fn)
        missing = [
            p.name
            for p in signature.parameters.values()
            if p.annotation is inspect.Parameter.empty and p.name not in ("self", "cls")
        ]
        assert not missing, (name, missing)
        assert signature.return_annotation is not inspect.Signature.empty, name
        hints = typing.get_type_hints(fn, localns={"pandas": pandas})  # names that exist, not typos
        assert "return" in hints, name
    # What an editor shows for the file functions: paths, Path objects and file objects.
    path_hint = typing.get_type_hints(tessarin.read_spectra)["path"]
    assert os.PathLike[str] in typing.get_args(path_hint) and typing.IO[str] in typing.get_args(path_hint)
    assert os.path.isfile(os.path.join(os.path.dirname(tessarin.__file__), "py.typed"))
