"""The relations as a NumPy user would type them: closed forms as array expressions, and
the inverses without one solved by scipy.optimize.newton on the whole array (vectorised
residual and derivative, start 0.5 or 1.5 by branch, tolerance 1e-6, at most 100
iterations; an element that does not converge becomes NaN, as in the library).

Every function takes (values, ga) or (values, ga, sup) like the library's."""

import warnings

import numpy as np

TOLERANCE = 1e-6
MAX_ITERATIONS = 100


# Forward relations.


def To_T_from_Ma(Ma, ga):
    return 1 + (ga - 1) / 2 * Ma**2


def Po_P_from_Ma(Ma, ga):
    return (1 + (ga - 1) / 2 * Ma**2) ** (ga / (ga - 1))


def rhoo_rho_from_Ma(Ma, ga):
    return (1 + (ga - 1) / 2 * Ma**2) ** (1 / (ga - 1))


def V_cpTo_from_Ma(Ma, ga):
    return Ma * np.sqrt(ga - 1) / np.sqrt(1 + (ga - 1) / 2 * Ma**2)


def mcpTo_APo_from_Ma(Ma, ga):
    return ga / np.sqrt(ga - 1) * Ma * (1 + (ga - 1) / 2 * Ma**2) ** (-(ga + 1) / (2 * (ga - 1)))


def mcpTo_AP_from_Ma(Ma, ga):
    return ga / np.sqrt(ga - 1) * Ma * np.sqrt(1 + (ga - 1) / 2 * Ma**2)


def A_Acrit_from_Ma(Ma, ga):
    return 1 / Ma * ((1 + (ga - 1) / 2 * Ma**2) / ((ga + 1) / 2)) ** ((ga + 1) / (2 * (ga - 1)))


def Mash_from_Ma(Ma, ga):
    return np.sqrt((1 + (ga - 1) / 2 * Ma**2) / (ga * Ma**2 - (ga - 1) / 2))


def Posh_Po_from_Ma(Ma, ga):
    a = (ga + 1) * Ma**2 / ((ga - 1) * Ma**2 + 2)
    b = (ga + 1) / (2 * ga * Ma**2 - (ga - 1))
    return a ** (ga / (ga - 1)) * b ** (1 / (ga - 1))


def F_mcpTo_from_Ma(Ma, ga):
    """The impulse function, which the library only inverts."""
    return np.sqrt(ga - 1) / ga * (1 + ga * Ma**2) / (Ma * np.sqrt(1 + (ga - 1) / 2 * Ma**2))


# Closed-form inverses.


def Ma_from_To_T(To_T, ga):
    return np.sqrt(2 * (To_T - 1) / (ga - 1))


def Ma_from_Po_P(Po_P, ga):
    return np.sqrt(2 / (ga - 1) * (Po_P ** ((ga - 1) / ga) - 1))


def Ma_from_rhoo_rho(rhoo_rho, ga):
    return np.sqrt(2 / (ga - 1) * (rhoo_rho ** (ga - 1) - 1))


def Ma_from_V_cpTo(V_cpTo, ga):
    return np.sqrt(V_cpTo**2 / ((ga - 1) * (1 - V_cpTo**2 / 2)))


# Inverses by array Newton.


def array_newton(residual, slope, target, start):
    """scipy's Newton on every element at once from `start` (a number or an array); NaN
    where an element did not converge."""
    from scipy.optimize import newton

    x0 = np.broadcast_to(np.asarray(start, dtype=float), target.shape).copy()
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        try:
            outcome = newton(
                residual,
                x0,
                slope,
                args=(target,),
                tol=TOLERANCE,
                maxiter=MAX_ITERATIONS,
                full_output=True,
                disp=False,
            )
        except RuntimeError:  # every element failed
            return np.full(target.shape, np.nan)
    if x0.size > 1:
        root, converged = outcome[0], outcome[1]
    else:  # one element takes scipy's scalar path, which reports differently
        root, converged = np.asarray(outcome[0], dtype=float), outcome[1].converged
    return np.where(converged, root, np.nan).reshape(target.shape)


def Ma_from_mcpTo_APo(t, ga, sup=False):
    k, D = (ga - 1) / 2, ga / np.sqrt(ga - 1)
    p = -(ga + 1) / (2 * (ga - 1))

    def residual(M, t):
        return D * M * (1 + k * M**2) ** p - t

    def slope(M, t):
        return D * (1 + k * M**2) ** (p - 1) * (1 - M**2)

    Ma = array_newton(residual, slope, t, 1.5 if sup else 0.5)
    return np.where(t > D * (1 + k) ** p, np.nan, Ma)  # above the choking maximum


def Ma_from_mcpTo_AP(t, ga):
    k, D = (ga - 1) / 2, ga / np.sqrt(ga - 1)

    def residual(M, t):
        return D * M * np.sqrt(1 + k * M**2) - t

    def slope(M, t):
        return D * (1 + 2 * k * M**2) / np.sqrt(1 + k * M**2)

    return array_newton(residual, slope, t, 0.5)


def Ma_from_F_mcpTo(t, ga, sup):
    k, C = (ga - 1) / 2, np.sqrt(ga - 1) / ga

    def residual(M, t):
        return C * (1 + ga * M**2) / (M * np.sqrt(1 + k * M**2)) - t

    def slope(M, t):
        return C * (M**2 - 1) / (M**2 * (1 + k * M**2) ** 1.5)

    Ma = array_newton(residual, slope, t, 1.5 if sup else 0.5)
    if sup:
        return Ma
    # From 0.5 the subsonic solve diverges for small Mach numbers (or lands on the
    # supersonic root); from C/t, below the root, it climbs to it.
    redo = ~(Ma <= 1)
    Ma[redo] = np.nan
    redo &= t > 0
    if redo.any():
        Ma[redo] = array_newton(residual, slope, t[redo], C / t[redo])
    return Ma


def Ma_from_Mash(t, ga):
    k = (ga - 1) / 2

    def residual(M, t):
        return np.sqrt((1 + k * M**2) / (ga * M**2 - k)) - t

    def slope(M, t):
        return -M * (ga + 1) ** 2 / (4 * (ga * M**2 - k) ** 1.5 * np.sqrt(1 + k * M**2))

    Ma = array_newton(residual, slope, t, 0.5)
    return np.where(t > 1, np.nan, Ma)


def Ma_from_Posh_Po(t, ga):
    k = (ga - 1) / 2

    def residual(M, t):
        return Posh_Po_from_Ma(M, ga) - t

    def slope(M, t):
        Q = 1 + k * M**2
        X = (ga + 1) * M**2 / (2 * Q)
        Y = 2 * ga / (ga + 1) * M**2 - (ga - 1) / (ga + 1)
        return -ga * M * (M**2 - 1) ** 2 / Q**2 * X ** (1 / (ga - 1)) * Y ** (-ga / (ga - 1))

    return array_newton(residual, slope, t, 1.5)


def Ma_from_A_Acrit(t, ga, sup):
    k, h = (ga - 1) / 2, (ga + 1) / 2
    e = h / (ga - 1)

    def residual(M, t):
        return A_Acrit_from_Ma(M, ga) - t

    def slope(M, t):
        return ((1 + k * M**2) / h) ** (e - 1) * (M**2 - 1) / (h * M**2)

    Ma = array_newton(residual, slope, t, 1.5 if sup else 0.5)
    if sup:
        return Ma
    # From 0.5 the subsonic solve lands on the supersonic root for Mach numbers below about
    # 0.3; A/A* > h^-e/M, so h^-e/t lies below the root, from where Newton climbs to it.
    redo = ~((Ma > 0) & (Ma <= 1)) & (t > 1)
    if redo.any():
        Ma[redo] = array_newton(residual, slope, t[redo], h**-e / t[redo])
    return Ma
