"""The reproductions of a hostile caller, each in a child process: code run by the conversion
of `ga` or `sup` that changes the array after it was checked, and attempts to re-open the
type that owns result buffers. None may crash; a changed array gives either the
array-conversion TypeError or the result of the array as it was when it was checked."""

import pytest

from support import run_python

MESSAGE = "argument '{}': 'ndarray' object cannot be converted to 'PyArray<T, D>'"

# The 8 doubles end where a page ends and the next page is inaccessible: a read of the
# array under its new dtype's element count as doubles would fault at once.
AT_PAGE_END = r"""
import ctypes, mmap, sys
import numpy as np
import ventaroxi as vx

page = mmap.PAGESIZE
region = mmap.mmap(-1, 2 * page)
start = ctypes.addressof(ctypes.c_char.from_buffer(region))
libc = ctypes.CDLL(None, use_errno=True)
libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
assert libc.mprotect(start + page, page, 0) == 0
a = np.frombuffer(region, np.float64, count=8, offset=page - 64)
a[...] = np.linspace(1.5, 3.0, 8)

def strike():
    a.dtype = np.int8

class Float:
    def __float__(self):
        strike()
        return 1.4

class Index:
    def __index__(self):
        strike()
        return 2

class NumpyBool:
    __module__ = "numpy"
    def __bool__(self):
        strike()
        return True
NumpyBool.__name__ = "bool_"

class Meta(type):
    @property
    def __module__(cls):
        strike()
        return "numpy"
MetaBool = Meta("bool", (), {"__bool__": lambda self: True})

where = sys.argv[1]
function, arguments = {
    "ga.__float__": ("Mash_from_Ma", (Float(),)),
    "ga.__index__": ("Posh_Po_from_Ma", (Index(),)),
    "sup.__bool__": ("Ma_from_A_Acrit", (1.4, NumpyBool())),
    "sup's __module__": ("Ma_from_mcpTo_APo", (1.4, MetaBool())),
}[where]
try:
    result = getattr(vx, function)(a, *arguments)
except TypeError as error:
    print(error)
else:
    print("computed", result.shape)
"""


@pytest.mark.parametrize(
    "where", ["ga.__float__", "ga.__index__", "sup.__bool__", "sup's __module__"]
)
def test_dtype_changed_by_a_conversion_at_a_page_end(where):
    child = run_python(AT_PAGE_END, where)
    assert child.returncode == 0, child.stderr
    parameter = {"sup.__bool__": "A_Acrit", "sup's __module__": "mcpTo_APo"}.get(where, "Ma")
    assert child.stdout.strip() == MESSAGE.format(parameter)


# The array is changed by ga's __float__ (after a nested call on it); the call must give
# either the TypeError or exactly the relation over what the array is afterwards.
CHANGED = r"""
import sys, warnings
import numpy as np
import ventaroxi as vx

change, function = sys.argv[1], getattr(vx, sys.argv[2])
base = np.linspace(0.5, 4.0, 24)
a = base.copy() if change.startswith("resize") else base[:8]
nested = []

class Float:
    def __float__(self):
        nested.append(function(a, 1.4))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            if change == "shape":
                a.shape = (2, 4)
            elif change == "strides":
                a.strides = (24,)
            elif change == "resize smaller":
                a.resize(3, refcheck=False)
            elif change == "resize larger":
                a.resize(10_000, refcheck=False)
            elif change == "setstate":
                a.__setstate__((1, (2,), np.dtype(np.float64), False, np.array([1.5, 2.5]).tobytes()))
            elif change == "setstate int8":
                a.__setstate__((1, (16,), np.dtype(np.int8), False, bytes(16)))
        return 1.4

try:
    result = function(a, Float())
except TypeError as error:
    print("TypeError", error)
    sys.exit(0)
expected = function(np.array(a, order="C"), 1.4)
assert result.shape == a.shape, (result.shape, a.shape)
assert result.tobytes() == expected.tobytes()
assert nested[0].shape == (len(base) if change.startswith("resize") else 8,)
print("computed", result.shape)
"""

CHANGES = {
    "shape": ("computed (2, 4)", "TypeError"),
    "strides": ("computed (8,)", "computed (8,)"),
    "resize smaller": ("computed (3,)", "computed (3,)"),
    "resize larger": ("computed (10000,)", "computed (10000,)"),
    "setstate": ("computed (2,)", "computed (2,)"),
    "setstate int8": ("TypeError", "TypeError"),
}


@pytest.mark.parametrize("function", ["A_Acrit_from_Ma", "Po_P_from_Ma"])
@pytest.mark.parametrize("change", CHANGES)
def test_array_changed_by_a_conversion(change, function):
    child = run_python(CHANGED, change, function)
    assert child.returncode == 0, child.stderr
    expected = CHANGES[change][function == "Po_P_from_Ma"]  # Po_P_from_Ma: one dimension only
    if expected == "TypeError":
        assert child.stdout.strip() == "TypeError " + MESSAGE.format("Ma")
    else:
        assert child.stdout.strip() == expected


REOPEN = r"""
import copy, sys
import numpy as np
import ventaroxi as vx

r = vx.Mash_from_Ma(np.ones(3), 1.4)
T = type(r.base)
assert (T.__name__, T.__module__) == ("PySliceContainer", "builtins")
attempt = sys.argv[1]
try:
    exec(attempt)
except TypeError:
    print("refused")
"""


@pytest.mark.parametrize(
    "attempt",
    [
        "T.__new__ = lambda cls: object.__new__(cls); bare = T(); del bare",
        "bare = T(); del bare",
        "object.__new__(T)",
        "T.__new__(T)",
        "copy.copy(r.base)",
        "class Open(T): pass",
        "T.__del__ = lambda self: None",
        "del T.__doc__",
    ],
)
def test_the_buffer_owner_type_stays_closed(attempt):
    child = run_python(REOPEN, attempt)
    assert child.returncode == 0, child.stderr
    assert child.stdout.strip() == "refused"
