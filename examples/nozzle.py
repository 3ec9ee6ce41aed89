"""A converging-diverging nozzle: the flow along its axis, and where a normal shock stands.

The nozzle's area A(x) over its throat area At is given along the axis 0 <= x <= 1. With
the throat choked, the Mach number at each station follows from A/At alone, on one of two
branches: subsonic all along (the flow re-compresses after the throat), or supersonic
downstream of the throat. Between the two lies a range of back pressures for which a
normal shock stands in the diverging part; its position follows from the back pressure
in closed form, through the exit mass flow:

1. the choked mass flow, m*sqrt(cp*To)/(At*Po), is the mass-flow function at Mach 1;
2. at the exit, m*sqrt(cp*To)/(Ae*Pe) with Pe the back pressure gives the exit Mach number;
3. the exit's stagnation pressure over Po is then the stagnation-pressure ratio across the
   shock, which gives the Mach number ahead of the shock, and the area ratio there.

Run:  python examples/nozzle.py [back pressure over Po ...]
"""

import sys

import numpy as np

import ventaroxi as vx

GA = 1.4
THROAT_X = 0.3  # axial position of the throat
INLET_AREA = 3.0  # inlet area over throat area
EXIT_AREA = 2.5  # exit area over throat area


def area_ratio(x):
    """A/At along the axis: two parabolas meeting at the throat with zero slope."""
    x = np.asarray(x, dtype=np.float64)
    converging = 1 + (INLET_AREA - 1) * ((THROAT_X - x) / THROAT_X) ** 2
    diverging = 1 + (EXIT_AREA - 1) * ((x - THROAT_X) / (1 - THROAT_X)) ** 2
    return np.where(x < THROAT_X, converging, diverging)


def position_of_area(A_At):
    """The station in the diverging part where A/At takes the given value."""
    return THROAT_X + (1 - THROAT_X) * np.sqrt((A_At - 1) / (EXIT_AREA - 1))


def isentropic_branches(x, ga=GA):
    """Mach number along the axis on the subsonic branch and on the supersonic one."""
    A_At = area_ratio(x)
    subsonic = vx.Ma_from_A_Acrit(A_At, ga, False)
    # Upstream of the throat both solutions are subsonic.
    supersonic = np.where(x <= THROAT_X, subsonic, vx.Ma_from_A_Acrit(A_At, ga, True))
    return subsonic, supersonic


def regime_limits(ga=GA):
    """Back pressures over Po that bound the shock-in-nozzle regime, and the design one.

    Above `subsonic` the throat is not choked; at it the flow is subsonic everywhere but
    sonic at the throat. Between `shock_at_exit` and `subsonic` a normal shock stands in the
    diverging part; at `design` the supersonic branch leaves the nozzle without a shock.
    """
    exit_area = np.array([EXIT_AREA])
    exit_subsonic = vx.Ma_from_A_Acrit(exit_area, ga, False)
    exit_supersonic = vx.Ma_from_A_Acrit(exit_area, ga, True)
    design = 1 / vx.Po_P_from_Ma(exit_supersonic, ga)
    behind = vx.Mash_from_Ma(exit_supersonic, ga)
    shock_at_exit = vx.Posh_Po_from_Ma(exit_supersonic, ga) / vx.Po_P_from_Ma(behind, ga)
    subsonic = 1 / vx.Po_P_from_Ma(exit_subsonic, ga)
    return {"subsonic": subsonic[0], "shock_at_exit": shock_at_exit[0], "design": design[0]}


def shock_position(back_pressure, ga=GA):
    """Normal shock for each back pressure over Po (a one-dimensional array).

    Returns the Mach number ahead of the shock, the area ratio A/At where it stands, its
    axial position and the exit Mach number behind it; NaN where no shock stands in the
    nozzle for that back pressure.
    """
    pb = np.asarray(back_pressure, dtype=np.float64)
    choked = vx.mcpTo_APo_from_Ma(np.array([1.0]), ga)[0]
    exit_mach = vx.Ma_from_mcpTo_AP(choked / (EXIT_AREA * pb), ga)
    stagnation_ratio = vx.Po_P_from_Ma(exit_mach, ga) * pb  # Po behind the shock over Po
    ahead = vx.Ma_from_Posh_Po(stagnation_ratio, ga)
    limits = regime_limits(ga)
    inside = (pb > limits["shock_at_exit"]) & (pb < limits["subsonic"])
    ahead = np.where(inside, ahead, np.nan)
    A_At = vx.A_Acrit_from_Ma(ahead, ga)
    return {
        "Ma_ahead": ahead,
        "A_At": A_At,
        "x": position_of_area(A_At),
        "Ma_exit": np.where(inside, exit_mach, np.nan),
    }


def axis_with_shock(x, x_shock, ga=GA):
    """Mach number, P/Po and T/To along the axis with a normal shock at x_shock.

    Upstream of the shock the flow is on the supersonic branch. The shock lowers the
    stagnation pressure by Po2/Po1 and so raises the sonic area to At*Po1/Po2; downstream
    the flow is subsonic for that sonic area. The stagnation temperature does not change.
    """
    A_At = area_ratio(x)
    _, supersonic = isentropic_branches(x, ga)
    ahead = vx.Ma_from_A_Acrit(area_ratio(np.array([x_shock])), ga, True)
    loss = vx.Posh_Po_from_Ma(ahead, ga)[0]  # Po2/Po1
    behind = vx.Ma_from_A_Acrit(A_At * loss, ga, False)
    downstream = x > x_shock
    mach = np.where(downstream, behind, supersonic)
    stagnation = np.where(downstream, loss, 1.0)
    pressure = stagnation / vx.Po_P_from_Ma(mach, ga)
    temperature = 1 / vx.To_T_from_Ma(mach, ga)
    return mach, pressure, temperature


def main(argv):
    back_pressures = np.array(
        [float(a) for a in argv] or [0.98, 0.95, 0.9, 0.8, 0.7, 0.6, 0.5, 0.3]
    )
    limits = regime_limits()
    print(
        f"Nozzle: inlet A/At = {INLET_AREA}, exit A/At = {EXIT_AREA}, throat at x = {THROAT_X}, ga = {GA}"
    )
    print(
        "Back pressure over Po: subsonic with a sonic throat {subsonic:.4f}, "
        "shock at the exit {shock_at_exit:.4f}, design {design:.4f}".format(**limits)
    )

    x = np.linspace(0.0, 1.0, 11)
    x_shock = 0.65
    subsonic, supersonic = isentropic_branches(x)
    mach, pressure, temperature = axis_with_shock(x, x_shock)
    print(f"\nAlong the axis: both isentropic branches, and the flow with a shock at x = {x_shock}")
    print(
        f"{'x':>5} {'A/At':>7} | {'M sub':>7} {'P/Po':>7} | {'M sup':>7} {'P/Po':>7} | {'M shock':>7} {'P/Po':>7} {'T/To':>7}"
    )
    p_sub = 1 / vx.Po_P_from_Ma(subsonic, GA)
    p_sup = 1 / vx.Po_P_from_Ma(supersonic, GA)
    for row in zip(
        x,
        area_ratio(x),
        subsonic,
        p_sub,
        supersonic,
        p_sup,
        mach,
        pressure,
        temperature,
        strict=True,
    ):
        print(
            "{:5.2f} {:7.4f} | {:7.4f} {:7.4f} | {:7.4f} {:7.4f} | {:7.4f} {:7.4f} {:7.4f}".format(
                *row
            )
        )

    shock = shock_position(back_pressures)
    print("\nNormal shock position for each back pressure")
    print(f"{'Pb/Po':>7} {'M ahead':>8} {'A/At':>7} {'x':>6} {'M exit':>7}")
    for pb, m1, a, xs, me in zip(back_pressures, *shock.values(), strict=True):
        if not np.isnan(xs):
            print(f"{pb:7.4f} {m1:8.4f} {a:7.4f} {xs:6.3f} {me:7.4f}")
        elif pb >= limits["subsonic"]:
            print(f"{pb:7.4f}  no shock: the throat is not choked")
        else:
            print(f"{pb:7.4f}  no shock in the nozzle: it stands in the jet, or there is none")


if __name__ == "__main__":
    main(sys.argv[1:])
