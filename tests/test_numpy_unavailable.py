"""The first call when NumPy is broken, when its C-API table cannot be read, or when NumPy's
import calls back into ventaroxi; and the call after the fault is mended.

NumPy simply missing (hidden by a finder) is test_module.py's case. Here a child interpreter
puts a stub `numpy` package first on sys.path; each fault must be PanicException, derived
directly from BaseException, whose message begins "Failed to access NumPy array API capsule",
and a later call in the same process, once the stub is gone, must work.
"""

import subprocess
import textwrap

import pytest

from support import run_python

FETCH_FAILURE = "Failed to access NumPy array API capsule"

# Run in the child before its test code: `outcome` reports a call's result in one line,
# `mend` takes the stub away so that the real NumPy is imported next.
PRELUDE = """
import sys

STUB = sys.argv[1]
sys.path.insert(0, STUB)
import ventaroxi

def outcome(call):
    try:
        value = call()
    except Exception as error:
        return f"exception {type(error).__name__}: {error}"
    except BaseException as error:
        derived = "directly" if type(error).__bases__ == (BaseException,) else "indirectly"
        return f"fault {type(error).__name__} {derived}: {error}"
    return f"value {value.tolist()}"

def first_call():
    return outcome(lambda: ventaroxi.rhoo_rho_from_Ma(None, 1.4))

def mend():
    sys.path.remove(STUB)
    for name in [n for n in sys.modules if n == "numpy" or n.startswith("numpy.")]:
        del sys.modules[name]
    import numpy
    return outcome(lambda: ventaroxi.To_T_from_Ma(numpy.array([2.0, 0.5]), 1.4))
"""

RIGHT_VALUES = "value [1.7999999999999998, 1.05]"

NUMPY_VERSION = """
class NumpyVersion:
    def __init__(self, version):
        self.major = int(version.split(".")[0])
"""


def write_stub(root, files):
    for path, text in files.items():
        target = root / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(textwrap.dedent(text), encoding="utf-8")


def run_child(root, *code, timeout=120):
    """Runs PRELUDE and the pieces of `code` in a fresh interpreter; a hang fails the test
    instead of holding up the run."""
    program = PRELUDE + "".join(textwrap.dedent(piece) for piece in code)
    try:
        result = run_python(program, str(root), timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"the child hung for {timeout} s; it printed: {expired.stdout!r}")
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def fault(detail):
    return f"fault PanicException directly: {FETCH_FAILURE}: {detail}"


CHECK_AND_MEND = """
print(first_call())
print(first_call())  # a failed fetch is not remembered: it is tried, and fails, again
print(sorted(n for n in sys.modules if n.startswith("numpy.") and "multiarray" in n))
print(mend())
print(first_call())
"""

STUBS = {
    "import raises": (
        {"numpy/__init__.py": "raise ImportError('this NumPy is broken')"},
        "ImportError: this NumPy is broken",
        [],
    ),
    "no _ARRAY_API": (
        {
            "numpy/__init__.py": "__version__ = '2.1.0'",
            "numpy/lib/__init__.py": NUMPY_VERSION,
            "numpy/_core/__init__.py": "",
            "numpy/_core/multiarray.py": "tables = None",
        },
        "AttributeError: module 'numpy._core.multiarray' has no attribute '_ARRAY_API'",
        ["numpy._core.multiarray"],
    ),
    "_ARRAY_API not a capsule": (
        {
            "numpy/__init__.py": "__version__ = '2.0.0'",
            "numpy/lib/__init__.py": NUMPY_VERSION,
            "numpy/_core/__init__.py": "",
            "numpy/_core/multiarray.py": "_ARRAY_API = [None] * 400",
        },
        "_ARRAY_API is not a capsule",
        ["numpy._core.multiarray"],
    ),
    "_ARRAY_API another module's capsule": (
        {
            "numpy/__init__.py": "__version__ = '2.0.0'",
            "numpy/lib/__init__.py": NUMPY_VERSION,
            "numpy/_core/__init__.py": "",
            "numpy/_core/multiarray.py": "from datetime import datetime_CAPI as _ARRAY_API",
        },
        "ValueError: PyCapsule_GetPointer called with incorrect name",
        ["numpy._core.multiarray"],
    ),
    # A NumPy 1 is read from numpy.core; the numpy._core that this stub also has is not
    # looked at (were it, the fault would say "not a capsule").
    "NumPy 1.26 without _ARRAY_API": (
        {
            "numpy/__init__.py": "__version__ = '1.26.0'",
            "numpy/lib/__init__.py": NUMPY_VERSION,
            "numpy/core/__init__.py": "",
            "numpy/core/multiarray.py": "tables = None",
            "numpy/_core/__init__.py": "",
            "numpy/_core/multiarray.py": "_ARRAY_API = 'not a capsule'",
        },
        "AttributeError: module 'numpy.core.multiarray' has no attribute '_ARRAY_API'",
        ["numpy.core.multiarray"],
    ),
}


@pytest.mark.parametrize("case", list(STUBS))
def test_broken_numpy_is_a_fault_and_a_later_call_works(tmp_path, case):
    files, detail, multiarray_modules = STUBS[case]
    write_stub(tmp_path, files)
    lines = run_child(tmp_path, CHECK_AND_MEND)
    assert lines == [
        fault(detail),
        fault(detail),
        str(multiarray_modules),
        RIGHT_VALUES,
        "exception TypeError: argument 'Ma': 'NoneType' object cannot be converted to "
        "'PyArray<T, D>'",
    ]


# A call made on the same thread from within the first call's fetch (here from NumPy's
# import) must not wait for the fetch that it is part of: it fails at once, and the outer
# call goes on according to what the import does. A hang here is a failure, by timeout.
CALL_BACK = f"fault PanicException directly: {FETCH_FAILURE}: "
NONE_REFUSED = (
    "exception TypeError: argument 'Ma': 'NoneType' object cannot be converted to 'PyArray<T, D>'"
)
LATER_CALL = """
import numpy
print("later:", outcome(lambda: ventaroxi.To_T_from_Ma(numpy.array([2.0, 0.5]), 1.4)))
"""


def test_call_from_within_the_fetch_fails_and_the_outer_call_completes(tmp_path):
    lines = run_child(
        tmp_path,
        """
        class CallsBack:
            # Finds nothing itself: the real NumPy is imported once it returns.
            def find_spec(self, name, path=None, target=None):
                if name == "numpy":
                    sys.meta_path.remove(self)
                    print("inner:", first_call())
                return None

        sys.meta_path.insert(0, CallsBack())
        print("outer:", first_call())  # the fetch imports NumPy
        """,
        LATER_CALL,
        timeout=60,
    )
    assert len(lines) == 3 and lines[0].startswith("inner: " + CALL_BACK), lines
    assert lines[1:] == ["outer: " + NONE_REFUSED, "later: " + RIGHT_VALUES]


def test_call_from_within_a_failing_import_then_a_later_call_works(tmp_path):
    write_stub(
        tmp_path,
        {
            "numpy/__init__.py": """
                import ventaroxi
                try:
                    ventaroxi.V_cpTo_from_Ma([0.5], 1.4)
                except BaseException as error:
                    print("inner:", type(error).__name__, error)
                raise ImportError("this NumPy called back, then broke")
            """
        },
    )
    lines = run_child(tmp_path, 'print("outer:", first_call())\nprint(mend())\n', timeout=60)
    assert len(lines) == 3 and lines[0].startswith(f"inner: PanicException {FETCH_FAILURE}: ")
    assert lines[1:] == [
        "outer: " + fault("ImportError: this NumPy called back, then broke"),
        RIGHT_VALUES,
    ]


def test_another_thread_waits_for_the_fetch_with_the_interpreter_lock_released(tmp_path):
    # While the first call's fetch runs NumPy's import, a second thread calls in; it must
    # wait for the fetch to finish without holding the interpreter lock, which the import
    # needs to go on, and then use the table it fetched.
    lines = run_child(
        tmp_path,
        """
        import threading, time

        seen = []

        def second_caller():
            seen.append(first_call())

        def inside_the_module(thread):
            frame = sys._current_frames().get(thread.ident)
            return frame is not None and frame.f_code.co_name == "<lambda>"

        class StartsAnotherCaller:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy":
                    sys.meta_path.remove(self)
                    second = threading.Thread(target=second_caller, daemon=True)
                    second.start()
                    while not inside_the_module(second):  # it has called the function
                        time.sleep(0.01)
                    time.sleep(0.2)  # and now waits in the guard
                return None

        sys.meta_path.insert(0, StartsAnotherCaller())
        print("first:", first_call())
        while not seen:
            time.sleep(0.01)
        print("second:", seen[0])
        """,
        LATER_CALL,
        timeout=60,
    )
    assert lines == ["first: " + NONE_REFUSED, "second: " + NONE_REFUSED, "later: " + RIGHT_VALUES]
