"""What is measured: each library function (each branch where it takes `sup`), the Mach
numbers its inputs come from, its goal group, and the peer function with the same quantity."""

from collections.abc import Callable
from dataclasses import dataclass

import baselines
import numpy as np

GA = 1.4
SUBSONIC, SUPERSONIC, WIDE = (0.05, 1.0), (1.0, 5.0), (0.05, 5.0)

# Goal groups of the issue.
NO_POW, POW, AREA, NEWTON = "no_pow", "pow", "area", "newton"
# Newton inverses whose iteration raises to a power.
NEWTON_WITH_POW = {"Ma_from_mcpTo_APo", "Ma_from_Posh_Po"}


@dataclass(frozen=True)
class Peer:
    name: str  # the peer's function
    call: Callable  # (peer input, ga) -> peer output
    to_peer: Callable = None  # library input -> peer input
    from_peer: Callable = None  # peer output -> library quantity, for the agreement check


@dataclass(frozen=True)
class Case:
    function: str
    sup: bool | None
    mach: tuple
    forward: str | None  # baselines' forward relation giving the inputs
    goal: str
    peer: Peer | None = None

    @property
    def label(self):
        return self.function + {None: "", False: "[sub]", True: "[sup]"}[self.sup]

    @property
    def needs_pow(self):
        return self.goal in (POW, AREA) or self.function in NEWTON_WITH_POW

    def arguments(self, values):
        return (values, GA) if self.sup is None else (values, GA, self.sup)

    def inputs(self, count, seed=12345):
        """`count` input values: the forward values of uniformly drawn Mach numbers."""
        mach = np.random.default_rng(seed).uniform(*self.mach, count)
        return mach if self.forward is None else getattr(baselines, self.forward)(mach, GA)


def reciprocal(x):
    return 1 / x


def pygasflow_peers():
    """The peer functions by library label; empty when pygasflow is not installed."""
    try:
        from pygasflow import isentropic as ise
        from pygasflow import shockwave as shock
    except ImportError:
        return {}
    root2 = np.sqrt(2.0)

    def area(flag):
        return lambda x, ga: ise.m_from_critical_area_ratio(x, flag, ga)

    return {
        "To_T_from_Ma": Peer(
            "isentropic.temperature_ratio (T/T0)", ise.temperature_ratio, None, reciprocal
        ),
        "Po_P_from_Ma": Peer(
            "isentropic.pressure_ratio (P/P0)", ise.pressure_ratio, None, reciprocal
        ),
        "rhoo_rho_from_Ma": Peer(
            "isentropic.density_ratio (rho/rho0)", ise.density_ratio, None, reciprocal
        ),
        "V_cpTo_from_Ma": Peer(
            "shockwave.nondimensional_velocity (V/Vmax)",
            shock.nondimensional_velocity,
            None,
            lambda v: v * root2,
        ),
        "A_Acrit_from_Ma": Peer("isentropic.critical_area_ratio", ise.critical_area_ratio),
        "Mash_from_Ma": Peer("shockwave.mach_downstream", shock.mach_downstream),
        "Posh_Po_from_Ma": Peer("shockwave.total_pressure_ratio", shock.total_pressure_ratio),
        "Ma_from_To_T": Peer(
            "isentropic.m_from_temperature_ratio (of T/T0)",
            ise.m_from_temperature_ratio,
            reciprocal,
        ),
        "Ma_from_Po_P": Peer(
            "isentropic.m_from_pressure_ratio (of P/P0)", ise.m_from_pressure_ratio, reciprocal
        ),
        "Ma_from_rhoo_rho": Peer(
            "isentropic.m_from_density_ratio (of rho/rho0)", ise.m_from_density_ratio, reciprocal
        ),
        "Ma_from_V_cpTo": Peer(
            "shockwave.mach_from_nondimensional_velocity (of V/Vmax)",
            shock.mach_from_nondimensional_velocity,
            lambda v: v / root2,
        ),
        # Its bracket search rejects targets below 1; a forward value can round just below.
        "Ma_from_A_Acrit[sub]": Peer(
            "isentropic.m_from_critical_area_ratio('sub')",
            area("sub"),
            lambda x: np.maximum(x, 1.0),
        ),
        "Ma_from_A_Acrit[sup]": Peer(
            "isentropic.m_from_critical_area_ratio('super')",
            area("super"),
            lambda x: np.maximum(x, 1.0),
        ),
        "Ma_from_Mash": Peer("shockwave.m1_from_m2", shock.m1_from_m2),
        "Ma_from_Posh_Po": Peer(
            "shockwave.m1_from_total_pressure_ratio", shock.m1_from_total_pressure_ratio
        ),
    }


def all_cases():
    peers = pygasflow_peers()

    def case(function, mach, forward, goal, sup=None):
        c = Case(function, sup, mach, forward, goal)
        return Case(function, sup, mach, forward, goal, peers.get(c.label))

    return [
        case("To_T_from_Ma", WIDE, None, NO_POW),
        case("Po_P_from_Ma", WIDE, None, POW),
        case("rhoo_rho_from_Ma", WIDE, None, POW),
        case("V_cpTo_from_Ma", WIDE, None, NO_POW),
        case("mcpTo_APo_from_Ma", WIDE, None, POW),
        case("mcpTo_AP_from_Ma", WIDE, None, NO_POW),
        case("A_Acrit_from_Ma", WIDE, None, POW),
        case("Mash_from_Ma", SUPERSONIC, None, NO_POW),
        case("Posh_Po_from_Ma", SUPERSONIC, None, POW),
        case("Ma_from_Po_P", WIDE, "Po_P_from_Ma", POW),
        case("Ma_from_To_T", WIDE, "To_T_from_Ma", NO_POW),
        case("Ma_from_rhoo_rho", WIDE, "rhoo_rho_from_Ma", POW),
        case("Ma_from_V_cpTo", WIDE, "V_cpTo_from_Ma", NO_POW),
        case("Ma_from_F_mcpTo", SUBSONIC, "F_mcpTo_from_Ma", NEWTON, sup=False),
        case("Ma_from_F_mcpTo", SUPERSONIC, "F_mcpTo_from_Ma", NEWTON, sup=True),
        case("Ma_from_mcpTo_APo", SUBSONIC, "mcpTo_APo_from_Ma", NEWTON, sup=False),
        case("Ma_from_mcpTo_APo", SUPERSONIC, "mcpTo_APo_from_Ma", NEWTON, sup=True),
        case("Ma_from_mcpTo_AP", WIDE, "mcpTo_AP_from_Ma", NEWTON),
        case("Ma_from_A_Acrit", SUBSONIC, "A_Acrit_from_Ma", AREA, sup=False),
        case("Ma_from_A_Acrit", SUPERSONIC, "A_Acrit_from_Ma", AREA, sup=True),
        case("Ma_from_Mash", SUPERSONIC, "Mash_from_Ma", NEWTON),
        case("Ma_from_Posh_Po", SUPERSONIC, "Posh_Po_from_Ma", NEWTON),
    ]
