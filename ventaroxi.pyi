"""Compressible-flow relations of a perfect gas, evaluated element-wise over float64 NumPy arrays.

Every function takes a float64 NumPy array as its first argument (a Python float must be
wrapped: ``np.asarray(0.5)``), the ratio of specific heats ``ga`` as a number, and, for three
inverses, the branch flag ``sup`` (True: supersonic root, False or None: subsonic root). It
returns a new float64 array of the same shape. A value outside a relation's domain gives NaN
(or the value stated) in that element and never raises.

Notation: M is the Mach number, k = (ga - 1)/2 and To/T = 1 + k*M**2.
"""

import numpy as np
import numpy.typing as npt

__all__ = [
    "To_T_from_Ma",
    "Po_P_from_Ma",
    "rhoo_rho_from_Ma",
    "V_cpTo_from_Ma",
    "mcpTo_APo_from_Ma",
    "mcpTo_AP_from_Ma",
    "A_Acrit_from_Ma",
    "Mash_from_Ma",
    "Posh_Po_from_Ma",
    "Ma_from_Po_P",
    "Ma_from_To_T",
    "Ma_from_rhoo_rho",
    "Ma_from_V_cpTo",
    "Ma_from_F_mcpTo",
    "Ma_from_mcpTo_APo",
    "Ma_from_mcpTo_AP",
    "Ma_from_A_Acrit",
    "Ma_from_Mash",
    "Ma_from_Posh_Po",
]

def To_T_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Stagnation-to-static temperature ratio To/T = 1 + (ga - 1)/2 * Ma**2.

    ``Ma`` must be one-dimensional. Even in Ma; +-inf gives +inf, NaN gives NaN.
    Exact to the last bit (formed as the reciprocal of T/To).
    """

def Po_P_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Stagnation-to-static pressure ratio Po/P = (To/T)**(ga/(ga - 1)).

    ``Ma`` must be one-dimensional. Even in Ma; +-inf gives +inf, NaN gives NaN.
    """

def rhoo_rho_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Stagnation-to-static density ratio rho_o/rho = (To/T)**(1/(ga - 1)).

    Even in Ma; +-inf gives +inf, NaN gives NaN.
    """

def V_cpTo_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Velocity over sqrt(cp*To): Ma*sqrt(ga - 1)/sqrt(To/T).

    Odd in Ma; tends to sqrt(2) as Ma grows; +-inf gives NaN. NaN for every element if ga < 1.
    """

def mcpTo_APo_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mass-flow function m*sqrt(cp*To)/(A*Po) = ga/sqrt(ga - 1) * Ma * (To/T)**(-(ga + 1)/(2(ga - 1))).

    Largest at Ma = 1, the choking value (1.2810152558552463 for ga = 1.4). Odd in Ma;
    +-inf gives NaN. NaN for every element if ga < 1.
    """

def mcpTo_AP_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mass-flow function m*sqrt(cp*To)/(A*P) = ga/sqrt(ga - 1) * Ma * sqrt(To/T).

    Rises steadily with Ma (no maximum). Odd in Ma; +-inf gives +-inf. NaN for every
    element if ga < 1.
    """

def A_Acrit_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Area ratio A/A* = (1/Ma) * ((To/T)/((ga + 1)/2))**((ga + 1)/(2(ga - 1))).

    Exactly 1 at Ma = 1, its minimum; Ma = 0 gives +inf. Odd in Ma; +-inf gives NaN.
    """

def Mash_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number behind a normal shock: sqrt((1 + k*Ma**2)/(ga*Ma**2 - k)), k = (ga - 1)/2.

    Exactly 1 at Ma = 1. A subsonic Ma is not rejected: down to sqrt(k/ga) (0.378 for
    ga = 1.4) it gives the formula's value, above 1; below that, NaN. Even in Ma; +-inf gives NaN.
    """

def Posh_Po_from_Ma(Ma: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Stagnation-pressure ratio across a normal shock, Po2/Po1.

    Po2/Po1 = ((ga + 1)Ma**2/((ga - 1)Ma**2 + 2))**(ga/(ga - 1))
              * ((2 ga Ma**2 - (ga - 1))/(ga + 1))**(-1/(ga - 1)).
    1 at Ma = 1, falling towards 0 as Ma grows; +-inf gives 0. A subsonic Ma gives the
    formula's value (above 1); |Ma| below sqrt(k/ga) gives NaN, but where 1/(ga - 1) is an
    integer (the README's in-domain surprises). Even in Ma.
    """

def Ma_from_Po_P(Po_P: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number from Po/P: sqrt(2/(ga - 1) * (Po_P**((ga - 1)/ga) - 1)).

    Po_P >= 1 gives Ma >= 0; Po_P < 1 gives NaN; +-inf gives +inf; NaN gives NaN.
    NaN for every element if ga = 1.
    """

def Ma_from_To_T(To_T: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number from To/T: sqrt(2 (To_T - 1)/(ga - 1)).

    To_T >= 1 gives Ma >= 0; To_T < 1 and -inf give NaN; +inf gives +inf. Exact to the last bit.
    """

def Ma_from_rhoo_rho(rhoo_rho: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number from rho_o/rho: sqrt(2/(ga - 1) * (rhoo_rho**(ga - 1) - 1)).

    rhoo_rho >= 1 gives Ma >= 0; rhoo_rho < 1 gives NaN; +-inf gives +inf.
    NaN for every element if ga = 1.
    """

def Ma_from_V_cpTo(V_cpTo: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number from V/sqrt(cp*To): sqrt(V**2/((ga - 1)(1 - V**2/2))).

    Domain |V_cpTo| < sqrt(2); a negative velocity gives the Mach number of its magnitude.
    |V_cpTo| >= sqrt(2) (the double nearest sqrt(2) included), +-inf and NaN give NaN.
    Exact to the last bit.
    """

def Ma_from_F_mcpTo(
    F_mcpTo: npt.NDArray[np.float64], ga: float, sup: bool | None
) -> npt.NDArray[np.float64]:
    """Mach number from the impulse function F/(m*sqrt(cp*To)).

    F/(m*sqrt(cp*To)) = sqrt(ga - 1)/ga * (1 + ga*Ma**2)/(Ma*sqrt(1 + k*Ma**2)); it falls
    from +inf at Ma = 0 to its minimum at Ma = 1 (0.9897433186107869 for ga = 1.4) and rises
    towards sqrt(2). ``sup`` True picks the supersonic root, False or None the subsonic one.
    Newton iteration, step tolerance 1e-6. On the subsonic branch a solve that fails from
    Ma = 0.5, or lands above 1, is repeated from Ma = sqrt(ga - 1)/(ga*F_mcpTo), below the
    root, so small Mach numbers are found too. Below the minimum, at or above sqrt(2) with
    ``sup`` True, +-inf and NaN: NaN.
    """

def Ma_from_mcpTo_APo(
    mcpTo_APo: npt.NDArray[np.float64], ga: float, sup: bool = False, /
) -> npt.NDArray[np.float64]:
    """Mach number from the mass-flow function m*sqrt(cp*To)/(A*Po).

    Positional arguments only. ``sup`` True picks the supersonic root, False (the default)
    the subsonic one. Newton iteration, tolerance 1e-6 on the change of Ma. Above the
    choking value (1.2810152558552463 for ga = 1.4) and +inf: NaN; at it, within about 1e-6 of 1.
    Subsonic: 0 gives 0, a small negative value a negative Mach number. Supersonic: <= 0
    gives NaN. -inf and NaN give NaN.
    """

def Ma_from_mcpTo_AP(mcpTo_AP: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number from the mass-flow function m*sqrt(cp*To)/(A*P); one root, no branch.

    Newton iteration, tolerance 1e-6 on the change of Ma. Odd: 0 gives 0, a negative value
    the negative root. +-inf, NaN and targets whose root lies beyond about 2e28 to 2e29
    (100 iterations are too few) give NaN.
    """

def Ma_from_A_Acrit(
    A_Acrit: npt.NDArray[np.float64], ga: float, sup: bool | None
) -> npt.NDArray[np.float64]:
    """Mach number from the area ratio A/A*.

    ``sup`` True picks the supersonic root, False or None the subsonic one. Bisection until
    the bracket stops moving, so the result is the bisection's settling point, no tolerance.
    A_Acrit = 1 gives exactly 1.0; every A_Acrit below 1 (0, negative, -inf) has no root
    and also gives exactly 1.0 on both branches. +inf gives 8.98846567431e307 (supersonic)
    or 2**-1024 (subsonic). A NaN A_Acrit or a NaN ga gives NaN.
    """

def Ma_from_Mash(Mash: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number ahead of a normal shock from the Mach number behind it.

    Newton iteration from 0.5, step tolerance 1e-6; gives the root >= 1. Mash = 1 gives 1;
    Mash > 1, Mash at or below sqrt((ga - 1)/(2 ga)) (0.378 for ga = 1.4), zero, negative
    and NaN give NaN. NaN for every element if ga >= 2.
    """

def Ma_from_Posh_Po(Posh_Po: npt.NDArray[np.float64], ga: float) -> npt.NDArray[np.float64]:
    """Mach number ahead of a normal shock from the stagnation-pressure ratio Po2/Po1.

    Newton iteration from 1.5, step tolerance 1e-6. Posh_Po in (0, 1) gives the root above
    1; Posh_Po = 1 gives 1 within about 1e-5. Posh_Po <= 0, +-inf, NaN and values too small
    to reach (1e-300) give NaN. Values above 1 are not rejected: the iteration may settle on
    a subsonic Mach number where the formula takes that value, or give NaN. NaN for every
    element if ga = 1.
    """
