"""Reduction of rig or CFD data: millions of stagnation/static pressure pairs to Mach number
and mass flow.

A rig logs, at each sample, the stagnation pressure Po and static pressure P in a duct of
known area A, and the stagnation temperature To. The Mach number follows from Po/P, and the
mass flow from the mass-flow function m*sqrt(cp*To)/(A*Po). A sample that has no Mach number
(P above Po from probe noise near zero flow, or a dropped-out channel logged as NaN) comes
out as NaN, in place, without an exception: it is counted and left out of the averages.

Leaving those samples out biases the mean Mach number where they are many: near zero flow
the noise pushes Po/P below 1 in about one sample of six, and the samples kept are those the
noise pushed up, so at set Mach 0.02 the mean of the Mach numbers comes out about 7 % high
(0.0214). Averaging the pressure ratio first, over every sample whose channels were logged,
and taking the Mach number of that mean, has no such bias: the table gives both.

The samples are written to a .npy file and read back memory-mapped, read-only, as a large
CFD export would be: the functions take such arrays as they are, without a copy.

Run:  python examples/rig_data.py [number of samples]
"""

import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import ventaroxi as vx

GA = 1.4
CP = 1004.5  # J/(kg K), air
AREA = 0.05  # m^2, duct cross-section at the measuring plane
SET_POINTS = np.array([0.02, 0.2, 0.4, 0.6, 0.8, 0.95])  # nominal Mach numbers of the run
PRESSURE_NOISE = 40.0  # Pa, standard deviation of each pressure channel
DROPOUT = 1e-4  # fraction of samples with a dropped-out static-pressure channel


def synthetic_log(samples, seed=7):
    """A rig log: set point index, Po [Pa], P [Pa], To [K] per sample.

    Without noise the pressures are exact for the set point's Mach number; the noise and
    the dropouts stand for what a real log carries.
    """
    rng = np.random.default_rng(seed)
    point = rng.integers(0, SET_POINTS.size, samples)
    mach = SET_POINTS[point]
    Po = rng.normal(2.0e5, 50.0, samples)
    P = Po / vx.Po_P_from_Ma(mach, GA)
    Po += rng.normal(0.0, PRESSURE_NOISE, samples)
    P += rng.normal(0.0, PRESSURE_NOISE, samples)
    P[rng.random(samples) < DROPOUT] = np.nan
    To = rng.normal(300.0, 0.5, samples)
    return point, Po, P, To


def reduce(Po, P, To, ga=GA, cp=CP, area=AREA):
    """Mach number [-] and mass flow [kg/s] for every sample; NaN where there is none."""
    mach = vx.Ma_from_Po_P(Po / P, ga)
    mass_flow = vx.mcpTo_APo_from_Ma(mach, ga) * area * Po / np.sqrt(cp * To)
    return mach, mass_flow


def summary(point, mach, mass_flow, pressure_ratio):
    """Per set point: samples, samples without a Mach number, mean and spread of the Mach
    numbers there are, mean mass flow, and the Mach number of the mean pressure ratio."""
    rows, mean_ratios = [], []
    for index, nominal in enumerate(SET_POINTS):
        at = point == index
        m = mach[at]
        good = ~np.isnan(m)
        ratio = pressure_ratio[at]
        mean_ratios.append(np.nanmean(ratio))  # dropped-out channels have no ratio at all
        rows.append(
            (
                nominal,
                int(at.sum()),
                int((~good).sum()),
                float(m[good].mean()),
                float(m[good].std()),
                float(mass_flow[at][good].mean()),
            )
        )
    # The means are NumPy scalars, which the functions refuse: one array of them, one call.
    of_mean = vx.Ma_from_Po_P(np.array(mean_ratios), GA)
    return [(*row, float(m)) for row, m in zip(rows, of_mean, strict=True)]


def main(argv):
    samples = int(float(argv[0])) if argv else 4_000_000
    point, Po, P, To = synthetic_log(samples)
    with tempfile.TemporaryDirectory() as folder:
        files = {}
        for name, values in (("Po", Po), ("P", P), ("To", To)):
            files[name] = Path(folder) / f"{name}.npy"
            np.save(files[name], values)
        Po, P, To = (np.load(files[name], mmap_mode="r") for name in ("Po", "P", "To"))

        start = time.perf_counter()
        mach, mass_flow = reduce(Po, P, To)
        seconds = time.perf_counter() - start
        rows = summary(point, mach, mass_flow, Po / P)
        del Po, P, To  # release the memory maps before the folder goes

    print(
        f"{samples:,} samples of (Po, P, To) reduced in {seconds:.3f} s (ga = {GA}, A = {AREA} m^2)"
    )
    print(
        f"{'set Ma':>7} {'samples':>9} {'no Ma':>6} {'mean Ma':>8} {'std Ma':>8} {'m [kg/s]':>9}"
        f" {'Ma(mean Po/P)':>13}"
    )
    for nominal, count, missing, mean, spread, flow, of_mean in rows:
        print(
            f"{nominal:7.2f} {count:9d} {missing:6d} {mean:8.5f} {spread:8.5f} {flow:9.4f}"
            f" {of_mean:13.5f}"
        )


if __name__ == "__main__":
    main(sys.argv[1:])
