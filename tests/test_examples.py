"""The examples: each runs and prints its table, and its numbers are checked against an
independent route to the same physics."""

import importlib.util
import subprocess
import sys

import numpy as np
import pytest

import ventaroxi as vx

from support import child_environment, require, source_tree

EXAMPLES = source_tree() / "examples"


def load(name):
    spec = importlib.util.spec_from_file_location(f"example_{name}", EXAMPLES / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def nozzle():
    return load("nozzle")


@pytest.fixture(scope="module")
def rig():
    return load("rig_data")


def exit_pressure_with_shock_at_area(nozzle, A_At, ga):
    """Back pressure over Po for a normal shock where the area ratio is A_At, marching
    downstream: shock, then isentropic subsonic flow to the exit."""
    ahead = vx.Ma_from_A_Acrit(A_At, ga, True)
    loss = vx.Posh_Po_from_Ma(ahead, ga)
    # The sonic area grows by Po1/Po2 across the shock.
    exit_mach = vx.Ma_from_A_Acrit(nozzle.EXIT_AREA * loss, ga, False)
    return loss / vx.Po_P_from_Ma(exit_mach, ga)


def test_nozzle_branches_satisfy_the_area_relation(nozzle):
    x = np.linspace(0, 1, 201)
    subsonic, supersonic = nozzle.isentropic_branches(x)
    A_At = nozzle.area_ratio(x)
    for mach in (subsonic, supersonic):
        np.testing.assert_allclose(vx.A_Acrit_from_Ma(mach, nozzle.GA), A_At, rtol=1e-12)
    throat = x == nozzle.THROAT_X
    assert subsonic[throat] == 1.0 and supersonic[throat] == 1.0
    assert np.all(subsonic <= 1)
    assert np.all(supersonic[x > nozzle.THROAT_X] > 1)
    assert np.all(np.diff(supersonic) > 0)  # accelerates all along on the supersonic branch


@pytest.mark.parametrize("ga", [1.4, 1.3])
def test_nozzle_shock_position_reproduces_the_back_pressure(nozzle, ga):
    limits = nozzle.regime_limits(ga)
    assert limits["design"] < limits["shock_at_exit"] < limits["subsonic"] < 1
    pb = np.linspace(limits["shock_at_exit"], limits["subsonic"], 40)[1:-1]
    shock = nozzle.shock_position(pb, ga)
    np.testing.assert_allclose(
        exit_pressure_with_shock_at_area(nozzle, shock["A_At"], ga), pb, rtol=1e-9
    )
    np.testing.assert_allclose(nozzle.area_ratio(shock["x"]), shock["A_At"], rtol=1e-12)
    # A lower back pressure pushes the shock downstream.
    assert np.all(np.diff(shock["x"]) < 0)
    assert np.all((shock["x"] > nozzle.THROAT_X) & (shock["x"] < 1))


def test_nozzle_regime_edges(nozzle):
    limits = nozzle.regime_limits(nozzle.GA)
    # The shock at the exit and the sonic throat bound the regime, each the other's end.
    assert exit_pressure_with_shock_at_area(nozzle, np.array([nozzle.EXIT_AREA]), nozzle.GA)[
        0
    ] == pytest.approx(limits["shock_at_exit"], rel=1e-12)
    near = nozzle.shock_position(
        np.array([limits["subsonic"] * (1 - 1e-9), limits["shock_at_exit"] * (1 + 1e-9)])
    )
    assert near["x"][0] == pytest.approx(nozzle.THROAT_X, abs=0.01)
    assert near["x"][1] == pytest.approx(1.0, abs=1e-3)
    outside = nozzle.shock_position(
        np.array([0.99, limits["subsonic"] * 1.0001, limits["shock_at_exit"] * 0.999, 0.1])
    )
    assert all(np.isnan(v).all() for v in outside.values())


def test_nozzle_axis_with_shock_agrees_with_the_closed_form_position(nozzle):
    x = np.linspace(0, 1, 101)
    x_shock = 0.655
    mach, pressure, temperature = nozzle.axis_with_shock(x, x_shock)
    found = nozzle.shock_position(pressure[-1:])
    assert found["x"][0] == pytest.approx(x_shock, rel=1e-9)
    assert found["Ma_exit"][0] == pytest.approx(mach[-1], rel=1e-9)
    downstream = x > x_shock
    assert np.all(mach[downstream] < 1) and np.all(mach[~downstream & (x > nozzle.THROAT_X)] > 1)
    # Adiabatic: T/To follows the Mach number alone, across the shock too.
    np.testing.assert_allclose(temperature, 1 / (1 + 0.2 * mach**2), rtol=1e-14)
    # The shock raises the static pressure by the normal-shock ratio.
    ahead, behind = np.flatnonzero(~downstream)[-1], np.flatnonzero(downstream)[0]
    assert pressure[behind] > 2 * pressure[ahead]


def test_nozzle_prints_its_tables(nozzle, capsys):
    nozzle.main(["0.99", "0.8", "0.3"])
    lines = capsys.readouterr().out.splitlines()
    table = lines[lines.index(next(line for line in lines if line.lstrip().startswith("x "))) + 1 :]
    assert len([line for line in table if "|" in line]) == 11
    assert lines[-3].split()[1] == "no" and "not choked" in lines[-3]
    assert lines[-2].split()[0] == "0.8000" and len(lines[-2].split()) == 5
    assert "no shock in the nozzle" in lines[-1]


def test_rig_reduction_matches_first_principles(rig):
    ga, cp = rig.GA, rig.CP
    R = cp * (ga - 1) / ga
    mach = np.linspace(0.01, 0.99, 500)
    Po = np.full_like(mach, 2.0e5)
    To = np.full_like(mach, 300.0)
    P = Po / vx.Po_P_from_Ma(mach, ga)
    got_mach, got_flow = rig.reduce(Po, P, To)
    # Near zero flow Po/P - 1 is small: a rounding of Po/P moves the Mach number by about
    # 1e-16/(0.2 M^2) relative, which the tolerance allows for.
    tolerance = 1e-14 + 1e-15 / mach**2
    assert np.all(np.abs(got_mach - mach) <= tolerance * mach)
    # m = rho V A with rho = P/(R T), V = M sqrt(ga R T), T from the isentropic relation.
    T = To / (1 + (ga - 1) / 2 * mach**2)
    flow = P / (R * T) * mach * np.sqrt(ga * R * T) * rig.AREA
    assert np.all(np.abs(got_flow - flow) <= tolerance * flow)


def test_rig_reduction_flags_impossible_samples_in_place(rig):
    _, Po, P, To = rig.synthetic_log(200_000, seed=3)
    mach, flow = rig.reduce(Po, P, To)
    impossible = (P > Po) | np.isnan(P)
    assert impossible.sum() > 1000  # the noise at the lowest set point
    np.testing.assert_array_equal(np.isnan(mach), impossible)
    np.testing.assert_array_equal(np.isnan(flow), impossible)


def test_rig_reduction_reads_memory_mapped_files(rig, tmp_path):
    _, Po, P, To = rig.synthetic_log(10_000, seed=5)
    for name, values in (("Po", Po), ("P", P), ("To", To)):
        np.save(tmp_path / f"{name}.npy", values)
    mapped = [np.load(tmp_path / f"{name}.npy", mmap_mode="r") for name in ("Po", "P", "To")]
    assert not mapped[0].flags.writeable
    for a, b in zip(rig.reduce(*mapped), rig.reduce(Po, P, To), strict=True):
        assert a.tobytes() == b.tobytes()


def test_rig_prints_its_table(rig, capsys):
    rig.main(["60000"])
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith("60,000 samples of (Po, P, To) reduced in ")
    rows = [line.split() for line in lines[2:]]
    assert [float(row[0]) for row in rows] == rig.SET_POINTS.tolist()
    assert sum(int(row[1]) for row in rows) == 60_000
    for row in rows[1:]:  # away from zero flow the mean recovers the set point
        assert float(row[3]) == pytest.approx(float(row[0]), abs=2e-3)
    # At set Mach 0.02 leaving out the samples without a Mach number biases their mean high,
    # by the 7 % the README quotes; the Mach number of the mean pressure ratio is not biased.
    assert float(rows[0][3]) > 1.05 * 0.02
    for row in rows:
        assert float(row[6]) == pytest.approx(float(row[0]), rel=0.03)


def test_scale_out_example_runs_on_a_small_store(tmp_path):
    require("dask.array")
    require("distributed")
    require("zarr")
    arguments = ["--elements", "300000", "--chunk", "70000", "--folder", str(tmp_path)]
    run = subprocess.run(
        [sys.executable, "-W", "error", str(EXAMPLES / "scale_out.py"), *arguments],
        capture_output=True,
        text=True,
        env=child_environment(),
        timeout=300,
    )
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0].startswith("Po/P: 300,000 float64 = 0.00 GB on disk, in chunks of 70,000")
    assert "sampled chunks identical to the direct call, bit for bit: True" in lines
    counts = [int(line.split()[3].replace(",", "")) for line in lines if " - " in line]
    assert sum(counts) == 300_000  # every Mach number of Po/P in [1, 20) is binned
    assert list(tmp_path.iterdir()) == []  # the stores went with their temporary folder

    # The count it labels "within 2e-4 of the choking value" is that count, from the same field.
    scale_out = load("scale_out")
    field = np.concatenate(
        [
            scale_out.draw({None: {"chunk-location": (i,), "chunk-shape": (size,)}})
            for i, size in enumerate([70_000] * 4 + [20_000])
        ]
    )
    flow = vx.mcpTo_APo_from_Ma(vx.Ma_from_Po_P(field, 1.4), 1.4)
    choking = 1.28101525586  # the mass-flow function at Mach 1, gamma 1.4
    near = int((flow > choking - 2e-4).sum())
    label = next(line for line in lines if "of the choking value 1.281015" in line)
    assert "within 0.0002 of the choking value" in label
    assert label.endswith(f": {near:,}")
