"""The nineteen functions as the tests know them: one row each, in registration order.

Each row says what the module cannot tell of itself (which arrays it takes, a span of inputs
inside its domain, which header holds its contract comment, which Mach numbers its accuracy is
measured on); what it can tell (the names, the parameters and how `sup` is taken) is written
here too, and test_function_table.py checks the rows against `__all__` and each function's
`__text_signature__`. A function added to the module without a row here fails that test, and
one without accuracy branches fails tests/test_accuracy.py.
"""

import math
from dataclasses import dataclass

import ventaroxi as vx

INF = math.inf
# The lower end of the shock relations' subsonic branch, a little above their pole at
# M² = (ga - 1)/(2 ga) (tests/exact.py says how far).
SHOCK = "shock"


@dataclass(frozen=True)
class Branch:
    """Mach numbers on which a function's accuracy is measured: lowest < M < highest (M = 1
    too where it belongs to the branch), passing `sup` when it is not None."""

    lowest: object  # a number, or SHOCK
    highest: float
    sup: object = None
    label: str = ""  # after the function's name in the accuracy tables


SUBSONIC, SUPERSONIC = Branch(0, 1, False, "sup=False"), Branch(1, INF, True, "sup=True")


@dataclass(frozen=True)
class Function:
    name: str
    header: str  # src/relations/<header> holds the contract comment
    inputs: tuple  # (low, high): inputs inside the domain at ga = 1.4
    branches: tuple = (Branch(0, INF),)
    sup: str = "absent"  # "absent", "none_is_false" (required, None is False), "defaults_false"
    one_dimensional: bool = False  # the array must have exactly one dimension
    iterative: bool = False  # solved by Newton's method or bisection, not in closed form

    @property
    def inverse(self):
        return self.name.startswith("Ma_from_")

    @property
    def quantity(self):
        """The flow quantity that the function relates to the Mach number."""
        return self.name.removeprefix("Ma_from_") if self.inverse else self.name[: -len("_from_Ma")]

    @property
    def parameters(self):
        first = self.quantity if self.inverse else "Ma"
        return (first, "ga") + (() if self.sup == "absent" else ("sup",))

    @property
    def positional_only(self):
        return len(self.parameters) if self.sup == "defaults_false" else 0

    @property
    def required(self):
        return len(self.parameters) - (self.sup == "defaults_false")

    @property
    def text_signature(self):
        if self.sup == "defaults_false":
            return f"({self.parameters[0]}, ga, sup=False, /)"
        return "(" + ", ".join(self.parameters) + ")"

    def rest(self, ga, sup=True):
        """The arguments after the array: `ga`, and `sup` where the function takes it."""
        return (ga,) if self.sup == "absent" else (ga, sup)

    def __call__(self, array, ga, sup=True):
        return getattr(vx, self.name)(array, *self.rest(ga, sup))


def _forward(name, header, branches=(Branch(0, INF),), one_dimensional=False, inputs=(0.2, 3.0)):
    return Function(name, header, inputs, branches, one_dimensional=one_dimensional)


def _iterative(name, header, inputs, branches=(Branch(0, INF),), sup="absent"):
    return Function(name, header, inputs, branches, sup, iterative=True)


_SHOCK = (Branch(1, INF), Branch(SHOCK, 1, None, "M < 1"))
_BOTH = (SUBSONIC, SUPERSONIC)

FUNCTIONS = {
    row.name: row
    for row in (
        _forward("To_T_from_Ma", "isentropic.hpp", one_dimensional=True),
        _forward("Po_P_from_Ma", "isentropic.hpp", one_dimensional=True),
        _forward("rhoo_rho_from_Ma", "isentropic.hpp"),
        _forward("V_cpTo_from_Ma", "isentropic.hpp"),
        _forward("mcpTo_APo_from_Ma", "flow_functions.hpp"),
        _forward("mcpTo_AP_from_Ma", "flow_functions.hpp"),
        _forward("A_Acrit_from_Ma", "flow_functions.hpp"),
        _forward("Mash_from_Ma", "normal_shock.hpp", _SHOCK, inputs=(1.0, 3.0)),
        _forward("Posh_Po_from_Ma", "normal_shock.hpp", _SHOCK, inputs=(1.0, 3.0)),
        Function("Ma_from_Po_P", "isentropic_inverses.hpp", (1.0, 8.0)),
        Function("Ma_from_To_T", "isentropic_inverses.hpp", (1.0, 3.0)),
        Function("Ma_from_rhoo_rho", "isentropic_inverses.hpp", (1.0, 5.0)),
        Function("Ma_from_V_cpTo", "isentropic_inverses.hpp", (0.0, 1.4)),
        _iterative("Ma_from_F_mcpTo", "flow_inverses.hpp", (1.0, 1.4), _BOTH, "none_is_false"),
        _iterative("Ma_from_mcpTo_APo", "flow_inverses.hpp", (0.1, 1.2), _BOTH, "defaults_false"),
        _iterative("Ma_from_mcpTo_AP", "flow_inverses.hpp", (0.1, 5.0)),
        _iterative("Ma_from_A_Acrit", "area_ratio_inverse.hpp", (1.0, 5.0), _BOTH, "none_is_false"),
        _iterative("Ma_from_Mash", "shock_inverses.hpp", (0.4, 1.0), (Branch(1, INF),)),
        _iterative("Ma_from_Posh_Po", "shock_inverses.hpp", (0.1, 1.0), (Branch(1, INF),)),
    )
}

NAMES = list(FUNCTIONS)
WITH_SUP = [f.name for f in FUNCTIONS.values() if f.sup != "absent"]
ONE_DIMENSIONAL = [f.name for f in FUNCTIONS.values() if f.one_dimensional]
ANY_RANK = [name for name in NAMES if name not in ONE_DIMENSIONAL]
