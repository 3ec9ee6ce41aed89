"""The module object: its attributes, functions, import behaviour and lazy NumPy."""

import importlib
import inspect
import pathlib
import re
import sys
from importlib import metadata

import pytest

import ventaroxi as vx

from support import run_python, source_tree

INTERPRETER_GIVES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def test_module_holds_its_functions_and_all_only():
    assert set(vars(vx)) == INTERPRETER_GIVES | {"__all__"} | set(vx.__all__)
    assert len(vx.__all__) == len(set(vx.__all__))
    assert vx.__all__[0] == "To_T_from_Ma"
    assert vx.__doc__.count(".") == 1 and vx.__doc__.endswith(".")


@pytest.mark.parametrize("name", vx.__all__)
def test_function_identity_and_signature(name):
    function = getattr(vx, name)
    assert function.__name__ == name
    assert function.__module__ == "ventaroxi"
    assert function.__self__ is vx
    assert function.__doc__ is None  # the docstring is a text signature and nothing else
    signature = inspect.signature(function)
    assert str(signature) == function.__text_signature__
    parameters = list(signature.parameters.values())
    assert parameters[1].name == "ga"
    kinds = {p.kind for p in parameters}
    if name == "Ma_from_mcpTo_APo":
        assert kinds == {inspect.Parameter.POSITIONAL_ONLY}
        assert parameters[2].default is False
    else:
        assert kinds == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
        assert all(p.default is inspect.Parameter.empty for p in parameters)


def test_reimport_gives_the_same_module():
    functions = [getattr(vx, name) for name in vx.__all__]
    del sys.modules["ventaroxi"]
    try:
        again = importlib.import_module("ventaroxi")
    finally:
        sys.modules["ventaroxi"] = vx
    assert again is vx
    assert [getattr(again, name) for name in vx.__all__] == functions


def test_import_without_numpy_then_a_later_call_works():
    result = run_python(
        """
        import sys

        class HideNumPy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy" or name.startswith("numpy."):
                    raise ModuleNotFoundError(f"No module named {name!r}")

        hider = HideNumPy()
        sys.meta_path.insert(0, hider)
        import ventaroxi
        assert "numpy" not in sys.modules
        try:
            ventaroxi.To_T_from_Ma()
        except TypeError as error:  # matching needs no NumPy
            print("matching:", error)
        for attempt in range(2):
            try:
                ventaroxi.rhoo_rho_from_Ma(object(), 1.4)
            except Exception as error:
                print("caught as Exception:", type(error).__name__)
            except BaseException as error:
                print("fault:", type(error).__name__, type(error).__bases__ == (BaseException,))
                print("message:", str(error))
        sys.meta_path.remove(hider)
        import numpy
        print("later:", ventaroxi.To_T_from_Ma(numpy.array([2.0]), 1.4).tolist())
        """
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert (
        lines[0]
        == "matching: To_T_from_Ma() missing 2 required positional arguments: 'Ma' and 'ga'"
    )
    # Both attempts fail the same way, and the call after NumPy is back succeeds: a failed
    # fetch is not remembered.
    assert (
        lines[1:5]
        == [
            "fault: PanicException True",
            "message: Failed to access NumPy array API capsule: ModuleNotFoundError: No module named 'numpy'",
        ]
        * 2
    )
    assert lines[5] == "later: [1.7999999999999998]"


def test_second_interpreter_cannot_import_and_first_keeps_working():
    result = run_python(
        """
        import ventaroxi, numpy

        def import_in_subinterpreter():
            try:
                from concurrent import interpreters
            except ImportError:
                pass
            else:
                try:
                    interpreters.create().exec("import ventaroxi")
                except interpreters.ExecutionFailed as failure:
                    return failure.excinfo.type.__name__
                return "imported"
            try:
                import _xxsubinterpreters as subinterpreters
            except ImportError:
                import _interpreters as subinterpreters
                failure = subinterpreters.exec(subinterpreters.create(), "import ventaroxi")
                return failure.type.__name__ if failure else "imported"
            try:
                subinterpreters.run_string(subinterpreters.create(), "import ventaroxi")
            except subinterpreters.RunFailedError as failure:
                return str(failure).split(":")[0].strip("<>'").removeprefix("class '")
            return "imported"

        print(import_in_subinterpreter())
        print(ventaroxi.To_T_from_Ma(numpy.array([2.0]), 1.4).tolist())
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["ImportError", "[1.7999999999999998]"]


def test_module_itself_refuses_a_second_interpreter():
    # A sub-interpreter that shares the main one's settings reaches the module's own guard,
    # where an isolated one may be turned away by the import system first.
    result = run_python(
        """
        import ventaroxi
        import _testcapi
        print(_testcapi.run_in_subinterp("import ventaroxi"))
        """
    )
    if "No module named '_testcapi'" in result.stderr:
        pytest.skip("this interpreter has no _testcapi")
    assert result.stdout.strip() == "-1"
    assert "ImportError: ventaroxi does not support sub-interpreters" in result.stderr
    assert "http" not in result.stderr


def test_numpy_table_comes_from_the_package_of_its_major_version():
    # NumPy 1.26 also has a numpy._core stand-in that hands out the same table, so only the
    # modules imported show which path the first call took.
    result = run_python(
        """
        import sys, numpy, ventaroxi
        ventaroxi.Po_P_from_Ma(numpy.ones(1), 1.4)
        print(numpy.lib.NumpyVersion(numpy.__version__).major, "numpy._core.multiarray" in sys.modules)
        """
    )
    assert result.returncode == 0, result.stderr
    major, from_core = result.stdout.split()
    assert from_core == str(int(major) >= 2)


def test_installed_version_is_the_one_meson_build_declares():
    """pyproject.toml leaves the version to meson.build; the wheel's metadata carries it."""
    try:
        distribution = metadata.distribution("ventaroxi")
    except metadata.PackageNotFoundError:
        pytest.skip("ventaroxi is imported from a build directory, not installed")
    imported = pathlib.Path(vx.__file__).resolve()
    if not any(
        pathlib.Path(distribution.locate_file(f)).resolve() == imported
        for f in distribution.files or []
    ):
        pytest.skip("the installed ventaroxi is not the one imported")
    meson_build = (source_tree() / "meson.build").read_text()
    declared = re.search(r"^  version: '([^']+)',$", meson_build, re.MULTILINE)
    assert declared, "meson.build's project() has no version"
    assert distribution.version == declared.group(1)
