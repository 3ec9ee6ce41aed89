"""Draws the relations of ventaroxi against Mach number, and the inverse branches, for a few
ratios of specific heats; writes the PNG files that the README shows.

Run:  python docs/figures.py [output folder]     (default: docs/images)
Needs matplotlib (pip install 'ventaroxi[docs]').
"""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import ventaroxi as vx

GAS = {1.1: "tab:purple", 1.3: "tab:green", 1.4: "tab:blue", 5 / 3: "tab:red"}
SUBSONIC = "-"
SUPERSONIC = "--"


def label(ga):
    return "γ = 5/3" if ga == 5 / 3 else f"γ = {ga:g}"


def impulse(mach, ga):
    """The impulse function F/(m*sqrt(cp*To)); the module has only its inverse."""
    k = (ga - 1) / 2
    return np.sqrt(ga - 1) / ga * (1 + ga * mach**2) / (mach * np.sqrt(1 + k * mach**2))


def dots(ax, x, mach, colour, largest):
    """Marks the forward relation's values x at the given Mach numbers, those within the
    plotted range of x only."""
    inside = x <= largest
    ax.plot(x[inside], mach[inside], "o", color=colour, markersize=3.5)


def finish(figure, axes, title):
    for ax in np.ravel(axes):
        ax.grid(True, color="0.85", linewidth=0.6)
        ax.set_axisbelow(True)
    np.ravel(axes)[0].legend(loc="best", fontsize=8)
    figure.suptitle(title, fontsize=12)
    figure.tight_layout()
    return figure


def isentropic():
    mach = np.linspace(0.0, 4.0, 401)
    figure, axes = plt.subplots(2, 2, figsize=(10, 7))
    panels = [
        (axes[0, 0], vx.To_T_from_Ma, "To/T", "To_T_from_Ma", "linear"),
        (axes[0, 1], vx.Po_P_from_Ma, "Po/P", "Po_P_from_Ma", "log"),
        (axes[1, 0], vx.rhoo_rho_from_Ma, "ρo/ρ", "rhoo_rho_from_Ma", "log"),
        (axes[1, 1], vx.V_cpTo_from_Ma, "V/√(cp·To)", "V_cpTo_from_Ma", "linear"),
    ]
    for ax, function, quantity, name, scale in panels:
        for ga, colour in GAS.items():
            ax.plot(mach, function(mach, ga), color=colour, label=label(ga))
        ax.set_yscale(scale)
        ax.set_title(name, fontsize=10, family="monospace")
        ax.set_xlabel("Mach number")
        ax.set_ylabel(quantity)
    axes[1, 1].axhline(np.sqrt(2), color="0.4", linewidth=0.8, linestyle=":")
    axes[1, 1].annotate("√2, the limit as Ma → ∞", (0.1, np.sqrt(2)), (0.1, 1.3), fontsize=8)
    return finish(figure, axes, "Isentropic stagnation ratios and velocity")


def flow_functions():
    mach = np.linspace(0.0, 4.0, 401)
    positive = mach[1:]
    figure, axes = plt.subplots(1, 3, figsize=(13, 4.2))
    for ga, colour in GAS.items():
        axes[0].plot(mach, vx.mcpTo_APo_from_Ma(mach, ga), color=colour, label=label(ga))
        axes[1].plot(mach, vx.mcpTo_AP_from_Ma(mach, ga), color=colour, label=label(ga))
        axes[2].plot(positive, vx.A_Acrit_from_Ma(positive, ga), color=colour, label=label(ga))
    axes[0].set_ylabel("m·√(cp·To)/(A·Po)")
    axes[0].set_title("mcpTo_APo_from_Ma: largest at Ma = 1 (choked)", fontsize=10)
    axes[1].set_ylabel("m·√(cp·To)/(A·P)")
    axes[1].set_title("mcpTo_AP_from_Ma: rises steadily", fontsize=10)
    axes[2].set_ylabel("A/A*")
    axes[2].set_yscale("log")
    axes[2].set_title("A_Acrit_from_Ma: 1 at Ma = 1, its minimum", fontsize=10)
    for ax in axes:
        ax.set_xlabel("Mach number")
        ax.axvline(1.0, color="0.4", linewidth=0.8, linestyle=":")
    return finish(figure, axes, "Mass-flow functions and area ratio")


def normal_shock():
    mach = np.linspace(1.0, 5.0, 401)
    figure, axes = plt.subplots(1, 2, figsize=(10, 4.2))
    for ga, colour in GAS.items():
        behind = vx.Mash_from_Ma(mach, ga)
        axes[0].plot(mach, behind, color=colour, label=label(ga))
        limit = np.sqrt((ga - 1) / (2 * ga))
        axes[0].axhline(limit, color=colour, linewidth=0.7, linestyle=":")
        axes[1].plot(mach, vx.Posh_Po_from_Ma(mach, ga), color=colour, label=label(ga))
    axes[0].set_ylabel("Mach number behind the shock")
    axes[0].set_title("Mash_from_Ma (dotted: the limit √((γ−1)/2γ))", fontsize=10)
    axes[1].set_ylabel("Po behind / Po ahead")
    axes[1].set_title("Posh_Po_from_Ma", fontsize=10)
    for ax in axes:
        ax.set_xlabel("Mach number ahead of the shock")
        ax.set_ylim(0, 1.05)
    return finish(figure, axes, "Normal shock")


def inverse_branches():
    """The inverses with a branch flag, over their whole domain, with the forward relation at
    a few Mach numbers as dots: each dot must sit on the curve of its branch."""
    figure, axes = plt.subplots(2, 2, figsize=(10, 8))
    marked = np.array([0.2, 0.4, 0.6, 0.8, 1.5, 2.0, 3.0])
    for ga, colour in GAS.items():
        ax = axes[0, 0]
        area = np.linspace(1.0, 10.0, 400)
        ax.plot(area, vx.Ma_from_A_Acrit(area, ga, False), SUBSONIC, color=colour, label=label(ga))
        ax.plot(area, vx.Ma_from_A_Acrit(area, ga, True), SUPERSONIC, color=colour)
        dots(ax, vx.A_Acrit_from_Ma(marked, ga), marked, colour, area[-1])

        ax = axes[0, 1]
        choked = vx.mcpTo_APo_from_Ma(np.array([1.0]), ga)[0]
        flow = np.linspace(0.0, choked, 400)
        ax.plot(flow, vx.Ma_from_mcpTo_APo(flow, ga), SUBSONIC, color=colour, label=label(ga))
        ax.plot(flow, vx.Ma_from_mcpTo_APo(flow, ga, True), SUPERSONIC, color=colour)
        dots(ax, vx.mcpTo_APo_from_Ma(marked, ga), marked, colour, choked)

        ax = axes[1, 0]
        lowest = impulse(1.0, ga)
        values = lowest + (2.2 - lowest) * np.linspace(0.0, 1.0, 400) ** 2
        ax.plot(
            values, vx.Ma_from_F_mcpTo(values, ga, False), SUBSONIC, color=colour, label=label(ga)
        )
        ax.plot(values, vx.Ma_from_F_mcpTo(values, ga, True), SUPERSONIC, color=colour)
        dots(ax, impulse(marked, ga), marked, colour, values[-1])

        ax = axes[1, 1]
        flow = np.linspace(0.0, 12.0, 400)
        ax.plot(flow, vx.Ma_from_mcpTo_AP(flow, ga), SUBSONIC, color=colour, label=label(ga))
        dots(ax, vx.mcpTo_AP_from_Ma(marked, ga), marked, colour, flow[-1])

    axes[0, 0].set_xlabel("A/A*")
    axes[0, 0].set_title("Ma_from_A_Acrit(A_Acrit, ga, sup)", fontsize=10, family="monospace")
    axes[0, 1].set_xlabel("m·√(cp·To)/(A·Po), up to the choking value")
    axes[0, 1].set_ylim(0, 5)  # the supersonic root grows without bound as the flow goes to 0
    axes[0, 1].set_title(
        "Ma_from_mcpTo_APo(mcpTo_APo, ga, sup=False, /)", fontsize=10, family="monospace"
    )
    axes[1, 0].set_xlabel("F/(m·√(cp·To)), from its minimum at Ma = 1")
    axes[1, 0].set_title("Ma_from_F_mcpTo(F_mcpTo, ga, sup)", fontsize=10, family="monospace")
    axes[1, 0].axvline(np.sqrt(2), color="0.4", linewidth=0.8, linestyle=":")
    axes[1, 0].annotate("√2: no supersonic root beyond", (np.sqrt(2), 5.5), (1.45, 5.5), fontsize=8)
    axes[1, 0].set_ylim(0, 6)
    axes[1, 1].set_xlabel("m·√(cp·To)/(A·P)")
    axes[1, 1].set_title(
        "Ma_from_mcpTo_AP(mcpTo_AP, ga): one root", fontsize=10, family="monospace"
    )
    for ax in np.ravel(axes):
        ax.set_ylabel("Mach number")
        ax.axhline(1.0, color="0.4", linewidth=0.8, linestyle=":")
    figure.text(
        0.5,
        0.005,
        "solid: subsonic branch (sup False or None), dashed: supersonic (sup True); "
        "dots: the forward relation at Ma = " + ", ".join(f"{m:g}" for m in marked),
        ha="center",
        fontsize=8,
    )
    finish(figure, axes, "Inverse relations and their branches")
    figure.subplots_adjust(bottom=0.09)
    return figure


FIGURES = {
    "isentropic.png": isentropic,
    "flow_functions.png": flow_functions,
    "normal_shock.png": normal_shock,
    "inverse_branches.png": inverse_branches,
}


def main(argv):
    folder = Path(argv[0]) if argv else Path(__file__).resolve().parent / "images"
    folder.mkdir(parents=True, exist_ok=True)
    for name, draw in FIGURES.items():
        figure = draw()
        # No timestamp or version in the file, so that an unchanged figure is an unchanged file.
        figure.savefig(folder / name, dpi=100, metadata={"Software": None})
        plt.close(figure)
        print(folder / name)


if __name__ == "__main__":
    main(sys.argv[1:])
