"""The README and the figures say what the module does: every code block a user copies runs
and prints what it says, the recipes work for all nineteen functions and agree with 50-digit
values, the reference gives the signatures, the stub the names, the figures are the drawn
ones. The README is the checkout's, or the installed distribution's description outside it."""

import ast
import importlib.metadata
import importlib.util
import inspect
import json
import pathlib
import re
import struct
import tomllib

import numpy as np
import pytest

import ventaroxi as vx

from functions import FUNCTIONS
from support import IN_SOURCE_TREE, SOURCE_TREE, readme_text, require, source_tree

README = readme_text()
# Every way each function is called: each flag its `sup` takes (None means subsonic where
# the function accepts it).
SUPS = {"absent": [None], "none_is_false": [True, False, None], "defaults_false": [True, False]}
CALLS = [
    (function.name, function.rest(1.4, sup))
    for function in FUNCTIONS.values()
    for sup in SUPS[function.sup]
]


def section(heading):
    text = README[README.index(heading) :]
    end = text.find("\n## ", 1)
    return text if end < 0 else text[:end]


def code_blocks(heading, language="python"):
    return re.findall(rf"```{language}\n(.*?)```", section(heading), re.S)


def code_block(heading, language="python"):
    return code_blocks(heading, language)[0]


# A comment that shows a printed value: an array's repr or a number.
PRINTED = re.compile(r"(array\(|-?\d|nan\b)")


def printed_values(block):
    """{number of the line that ends a statement: the value the comments show for it}. The
    comment is on that line or on the comment-only lines just below it."""
    shown, lines = {}, block.splitlines()
    for number, line in enumerate(lines, start=1):
        code, _, comment = line.partition("#")
        if not PRINTED.match(comment.strip()):
            continue
        at = number if code.strip() else number - 1
        text = [comment.strip()]
        for follower in lines[number:]:
            if not follower.lstrip().startswith("#") or PRINTED.match(follower.strip("# ")):
                break
            text.append(follower.strip().lstrip("#").strip())
        shown[at] = " ".join(text)
    return shown


def run_block(block, namespace):
    """Runs a block statement by statement, as a user pasting it would, and returns (source,
    repr of its value, the value shown) for each statement whose value the comments show."""
    shown, checked = printed_values(block), []
    for node in ast.parse(block).body:
        if isinstance(node, ast.Expr):
            value = eval(compile(ast.Expression(node.value), "<README>", "eval"), namespace)
        else:
            exec(compile(ast.Module([node], []), "<README>", "exec"), namespace)
            value = None
        if node.end_lineno in shown:
            if isinstance(node, ast.Assign):  # the value the name on the left now holds
                value = eval(ast.unparse(node.targets[0]), namespace)
            checked.append((ast.unparse(node), repr(value), shown.pop(node.end_lineno)))
    assert not shown, f"values shown for no statement: {shown}"
    return checked


def normalised(text):
    return re.sub(r"\s+", "", text)


# The user sections' blocks, in the README's order, each with how many values it shows; each
# runs with the names the blocks before it left, as in a user's session.
USER_BLOCKS = [
    ("## Quick start", 0, 6),
    ("## Quick start", 1, 3),
    ("## Before reducing rig data", 0, 8),
    ("## Normal shock and pitot tube", 0, 6),
]


def pasted(upto=None):
    """The names a user has after pasting the first `upto` user blocks (all by default)."""
    namespace = {}
    for heading, index, _ in USER_BLOCKS[:upto]:
        run_block(code_blocks(heading)[index], namespace)
    return namespace


@pytest.mark.parametrize("position", range(len(USER_BLOCKS)))
def test_user_blocks_print_what_they_say(position):
    heading, index, count = USER_BLOCKS[position]
    checked = run_block(code_blocks(heading)[index], pasted(position))
    assert len(checked) == count
    for source, value, expected in checked:
        assert normalised(value) == normalised(expected), source


def test_first_code_block_is_install_test_and_an_example():
    lines = code_block("# ventaroxi", "sh").splitlines()
    # The commands CI runs, each with what it needs and takes in a comment.
    command, _, comment = lines[0].partition("  # ")
    assert command == "python3 -m pip install '.[test]'" and "C++20" in comment
    command, _, comment = lines[1].partition("  # ")
    assert command.strip() == "python3 -m pytest" and "minutes" in comment
    namespace = {}
    exec(
        lines[2].removeprefix('python3 -c "').removesuffix('"').replace("print", "result = "),
        namespace,
    )
    # The text under the block quotes what the third line prints.
    subsonic, supersonic = namespace["result"]
    quoted = f"`{np.array2string(subsonic)} {np.array2string(supersonic)}`"
    assert quoted in README


def test_every_extra_line_names_every_extra():
    pyproject = tomllib.loads((source_tree() / "pyproject.toml").read_text(encoding="utf-8"))
    extras = set(pyproject["project"]["optional-dependencies"]) - {"dev"}
    line = re.search(r"`python3 -m pip install '\.\[([^\]]+)\]'`\.", README).group(1)
    assert sorted(line.split(",")) == sorted(extras)


def test_version_line_prints_the_installed_version(capsys):
    try:
        version = importlib.metadata.version("ventaroxi")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("ventaroxi is imported from a build directory, not installed")
    line = re.search(r'`python3 -c "(import importlib\.metadata[^"]+)"`', README).group(1)
    exec(line, {})
    assert capsys.readouterr().out == f"{version}\n"


def direct(name, args, values):
    return getattr(vx, name)(np.asarray(values, dtype=np.float64).reshape(-1), *args)


@pytest.mark.parametrize(("name", "args"), CALLS)
def test_single_values_and_any_shape_reach_every_function(name, args):
    f, any_shape = getattr(vx, name), pasted(2)["any_shape"]
    field = np.linspace(0.5, 3.0, 24)
    # The single-value recipe: a one-element array in, a float out, the element's own bits.
    singles = [float(f(np.array([x]), *args)[0]) for x in field]
    assert np.array(singles).tobytes() == f(field, *args).tobytes()
    for given in (
        1.5,
        np.float64(1.5),
        np.float32(1.5),
        [[0.5, 1.5], [2.0, 3.0]],
        field.reshape(2, 3, 4),
        field.reshape(4, 6).T,  # Fortran-ordered: reshape copies, in the right order
        field.astype(">f8"),
        np.arange(4),  # integers
    ):
        result = any_shape(f, *args)(given)
        assert result.shape == np.shape(given)
        assert result.tobytes() == direct(name, args, given).reshape(np.shape(given)).tobytes()


@pytest.mark.parametrize("name", vx.__all__)
def test_reference_gives_each_signature(name):
    signature = f"{name}{inspect.signature(getattr(vx, name))}"
    rows = [line for line in README.splitlines() if line.startswith(f"| `{name}(")]
    assert [row.split("`")[1] for row in rows] == [signature]


def test_stub_declares_the_module_functions_in_order():
    # The checkout's stub, or outside it the one installed beside the module.
    stub = SOURCE_TREE if IN_SOURCE_TREE else pathlib.Path(vx.__file__).parent
    tree = ast.parse((stub / "ventaroxi.pyi").read_text(encoding="utf-8"))
    functions = [node.name for node in tree.body if isinstance(node, ast.FunctionDef)]
    assert functions == vx.__all__
    declared = next(node for node in tree.body if isinstance(node, ast.Assign))
    assert ast.literal_eval(declared.value) == vx.__all__
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            assert ast.get_docstring(node), node.name


def png_size(path):
    header = path.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n" and header[12:16] == b"IHDR", path
    return struct.unpack(">II", header[16:24])


def test_readme_shows_every_committed_figure_and_only_those():
    shown = set(re.findall(r"!\[[^\]]*\]\(docs/images/([^)]+)\)", README))
    committed = {path.name for path in (source_tree() / "docs" / "images").glob("*.png")}
    assert shown == committed
    assert len(committed) >= 4


def test_figures_script_draws_the_committed_figures(tmp_path):
    docs = source_tree() / "docs"
    require("matplotlib")
    spec = importlib.util.spec_from_file_location("figures", docs / "figures.py")
    figures = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(figures)
    figures.main([str(tmp_path)])
    drawn = {path.name: png_size(path) for path in tmp_path.glob("*.png")}
    committed = {path.name: png_size(path) for path in (docs / "images").glob("*.png")}
    assert drawn == committed


def test_pandas_and_xarray_recipes_keep_labels_and_values():
    pd = require("pandas")
    xr = require("xarray")
    require("dask.array")
    namespace = {}
    exec(code_block("## pandas and xarray"), namespace)
    log, Ma = namespace["log"], namespace["Ma"]
    assert isinstance(Ma, pd.Series) and Ma.index.equals(log.index)
    expected = vx.Ma_from_Po_P(np.array([1.1, 1.5, 2.0, 0.9]), 1.4)
    assert Ma.to_numpy().tobytes() == expected.tobytes()
    assert log["Ma"].to_numpy().tobytes() == expected.tobytes() and np.isnan(expected[3])

    field = namespace["field"]
    values = field.to_numpy()
    flow = vx.mcpTo_APo_from_Ma(values, 1.4)
    for name, expected in (
        ("Po_P", vx.Po_P_from_Ma(values.reshape(-1), 1.4).reshape(values.shape)),
        ("flow", flow),
        ("Ma_back", vx.Ma_from_mcpTo_APo(flow, 1.4, True)),
    ):
        result = namespace[name]
        assert isinstance(result, xr.DataArray)
        assert result.dims == field.dims
        assert all(result.coords[c].equals(field.coords[c]) for c in field.coords)
        assert (name == "Ma_back") == (result.chunks is not None)  # lazy until computed
        assert result.compute().to_numpy().tobytes() == expected.tobytes()
    np.testing.assert_allclose(namespace["Ma_back"].compute(), field, rtol=1e-6)
    # The helper is the one of the quick start, not a variant of it.
    helper = re.compile(r"^def any_shape.*?^    return apply$", re.M | re.S)
    assert helper.search(code_block("## pandas and xarray")).group(0) == helper.search(
        code_blocks("## Quick start")[1]
    ).group(0)


@pytest.mark.parametrize("chunked", [False, True], ids=["eager", "dask"])
def test_the_xarray_and_dask_recipes_take_every_function(chunked):
    xr = require("xarray")
    da = require("dask.array") if chunked else None
    any_shape = pasted(2)["any_shape"]
    values = np.linspace(0.2, 3.0, 24).reshape(2, 3, 4)
    field = xr.DataArray(values, dims=("x", "y", "z"), coords={"y": [1, 2, 3]})
    options = {"dask": "parallelized", "output_dtypes": [np.float64]} if chunked else {}
    given = field.chunk({"x": 1, "z": 2}) if chunked else field
    labels, results, expected = [], [], []
    for name, args in CALLS:
        f, direct_values = getattr(vx, name), direct(name, args, values).reshape(values.shape)
        labels.append((name, args, "apply_ufunc"))
        results.append(xr.apply_ufunc(any_shape(f, *args), given, **options))
        expected.append(direct_values)
        if chunked:  # a chunked Dask array, as the Dask section maps it
            chunks = da.from_array(values, chunks=(1, 2, 2))
            labels.append((name, args, "map_blocks"))
            results.append(chunks.map_blocks(any_shape(f, *args), dtype=np.float64))
            expected.append(direct_values)
    if chunked:  # the Dask section's own line
        line = re.search(r"`(field\.map_blocks\(any_shape[^`]+)`", README).group(1)
        names = {"field": da.from_array(values, chunks=(1, 2, 2)), "any_shape": any_shape}
        labels.append(line)
        results.append(eval(line, {**names, "vx": vx, "np": np}))
        expected.append(direct("Po_P_from_Ma", (1.4,), values).reshape(values.shape))
        results = require("dask").compute(*results)  # one run of the scheduler for all
    for label, result, values_expected in zip(labels, results, expected, strict=True):
        if isinstance(result, xr.DataArray):
            assert result.coords["y"].equals(field.coords["y"]), label
        assert np.asarray(result).tobytes() == values_expected.tobytes(), label


def exact_shock(M1, ga):
    """The textbook closed forms across a normal shock, at 50 digits, for the exact doubles."""
    mp = require("mpmath").mp
    mp.dps = 50
    M, g = mp.mpf(M1), mp.mpf(ga)
    p = 1 + 2 * g / (g + 1) * (M * M - 1)
    rho = (g + 1) * M * M / ((g - 1) * M * M + 2)
    pitot = ((g + 1) * M * M / 2) ** (g / (g - 1)) * ((g + 1) / (2 * g * M * M - (g - 1))) ** (
        1 / (g - 1)
    )
    return {
        "M2": mp.sqrt(((g - 1) * M * M + 2) / (2 * g * M * M - (g - 1))),
        "p2/p1": p,
        "T2/T1": p / rho,
        "rho2/rho1": rho,
        "po2/po1": rho ** (g / (g - 1)) * p ** (-1 / (g - 1)),
        "po2/p1": pitot,
    }


@pytest.mark.parametrize("ga", [1.05, 1.1, 1.2, 1.3, 1.4, 1.5, 5 / 3, 2.0, 3.0])
def test_normal_shock_and_pitot_recipes_against_exact_values(ga):
    text = " ".join(section("## Normal shock and pitot tube").split())
    ratio_bound = float(re.search(r"each ratio is within (\S+) of the exact", text).group(1))
    pitot_bound = float(re.search(r"`Ma_from_pitot` within (\S+) of the exact", text).group(1))
    names = pasted()
    normal_shock, Ma_from_pitot = names["normal_shock"], names["Ma_from_pitot"]
    rng = np.random.default_rng(round(ga * 100))
    M1 = np.concatenate([[1.0, 1 + 1e-7, 1.01], 10 ** rng.uniform(0, 3, 60)])
    got = normal_shock(M1, ga)
    exact = [exact_shock(m, ga) for m in M1]
    mpf = require("mpmath").mpf
    for name, values in got.items():
        worst = max(abs(mpf(v) / e[name] - 1) for v, e in zip(values, exact, strict=True))
        assert worst <= ratio_bound, name
    readings = np.array([float(e["po2/p1"]) for e in exact])
    back = Ma_from_pitot(readings, ga)
    assert max(abs(mpf(b) / mpf(m) - 1) for b, m in zip(back, M1, strict=True)) <= pitot_bound
    # Below the reading at Mach 1 the tube reads the stagnation pressure; no shock below Mach 1.
    subsonic = np.array([1.0, 1.2, 1.6, np.nan, 0.9, -1.0])  # the reading at Mach 1 is above 1.67
    assert Ma_from_pitot(subsonic, ga).tobytes() == vx.Ma_from_Po_P(subsonic, ga).tobytes()
    assert all(np.isnan(v).all() for v in normal_shock(np.array([0.999, 0.5, np.nan]), ga).values())


def refusals():
    """A call for each message a user can meet, in the README's order."""
    pd = require("pandas")
    xr = require("xarray")
    ok = np.array([2.0])
    two_d = np.ones((2, 2))
    calls = [
        lambda: vx.To_T_from_Ma(0.5, 1.4),
        lambda: vx.To_T_from_Ma(np.float64(0.5), 1.4),
        lambda: vx.To_T_from_Ma([0.5, 1.0], 1.4),
        lambda: vx.To_T_from_Ma(pd.Series([0.5]), 1.4),
        lambda: vx.To_T_from_Ma(xr.DataArray([0.5]), 1.4),
        lambda: vx.To_T_from_Ma(np.array([1, 2]), 1.4),  # integers
        lambda: vx.To_T_from_Ma(np.array([0.5], dtype=np.float32), 1.4),
        lambda: vx.To_T_from_Ma(two_d, 1.4),  # two dimensions
        lambda: vx.Po_P_from_Ma(np.asarray(0.5), 1.4),  # none
        lambda: vx.To_T_from_Ma(np.array([0.5], dtype=">f8" if np.little_endian else "<f8"), 1.4),
        lambda: vx.To_T_from_Ma(ok, "1.4"),
        lambda: vx.To_T_from_Ma(ok, np.array([1.4, 1.3])),
        lambda: vx.Ma_from_A_Acrit(ok, 1.4, 1),
        lambda: vx.Ma_from_mcpTo_APo(ok, 1.4, None),
        lambda: vx.Ma_from_A_Acrit(ok, 1.4),
        lambda: vx.To_T_from_Ma(ok),
        lambda: vx.To_T_from_Ma(ok, 1.4, True),
        lambda: vx.Ma_from_mcpTo_APo(ok, 1.4, True, 1),
        lambda: vx.Ma_from_Po_P(ok, gamma=1.4),
        lambda: vx.Ma_from_Po_P(ok, 1.4, Po_P=ok),
        lambda: vx.Ma_from_mcpTo_APo(ok, 1.4, sup=True),
    ]
    return calls


def refusal_text(call):
    with pytest.raises(TypeError) as refused:
        call()
    return str(refused.value)


def test_when_a_call_is_refused_lists_exactly_the_texts_calls_give():
    table = section("## When a call is refused")
    listed = re.findall(r"^\| [^|]+ \| `([^`]+)` \|", table, re.M)
    produced = [refusal_text(call) for call in refusals()]
    numpy_1 = "only length-1 arrays can be converted to Python scalars"
    if int(np.__version__.split(".")[0]) < 2:  # the README quotes NumPy 2's text, and this one
        assert f"`{numpy_1}`" in table
        produced = [
            t.replace(numpy_1, "only 0-dimensional arrays can be converted to Python scalars")
            for t in produced
        ]
    assert sorted(set(produced)) == sorted(listed)
    assert len(listed) == len(set(listed))
    # The None case for ga is the same text but for the type, as the README says.
    assert refusal_text(lambda: vx.To_T_from_Ma(np.array([2.0]), None)).endswith("not NoneType")


def culprit(kind):
    """A refused first argument of this kind, holding the Mach numbers 0.5 and 2, or 0.5."""
    pair = np.array([0.5, 2.0])
    if kind == "a DataArray":
        return require("xarray").DataArray(pair.reshape(2, 1))
    return {
        "a Python number": 0.5,
        "a NumPy scalar": np.float64(0.5),
        "float32": pair.astype(np.float32),
        "integers": np.array([0, 2]),
        "two dimensions": pair.reshape(1, 2),
        "no dimension": np.asarray(0.5),
        "big-endian": pair.astype(">f8" if np.little_endian else "<f8"),
    }[kind]


# The fix the table gives for each kind, and how its value reaches the function.
FIXES = [
    ("a Python number", "vx.To_T_from_Ma(np.array([x]), 1.4)[0]", "{}"),
    ("a NumPy scalar", "vx.To_T_from_Ma(np.array([x]), 1.4)[0]", "{}"),
    ("a DataArray", "xr.apply_ufunc(any_shape(vx.To_T_from_Ma, 1.4), a)", "{}.to_numpy()"),
    ("float32", "a.astype(np.float64)", "vx.To_T_from_Ma({}, 1.4)"),
    ("integers", "a.astype(np.float64)", "vx.To_T_from_Ma({}, 1.4)"),
    ("big-endian", "a.astype(np.float64)", "vx.To_T_from_Ma({}, 1.4)"),
    ("two dimensions", "vx.To_T_from_Ma(a.reshape(-1), 1.4).reshape(a.shape)", "{}"),
    ("no dimension", "vx.To_T_from_Ma(a.reshape(-1), 1.4).reshape(a.shape)", "{}"),
    ("float32", "any_shape(vx.To_T_from_Ma, 1.4)(a)", "{}"),
    ("big-endian", "any_shape(vx.To_T_from_Ma, 1.4)(a)", "{}"),
    ("two dimensions", "any_shape(vx.To_T_from_Ma, 1.4)(a)", "{}"),
]


@pytest.mark.parametrize(("kind", "fix", "use"), FIXES)
def test_each_refusal_fix_works(kind, fix, use):
    table = section("## When a call is refused")
    assert f"`{fix}`" in table
    given = culprit(kind)
    refusal_text(lambda: vx.To_T_from_Ma(given, 1.4))
    names = {"np": np, "vx": vx, "any_shape": pasted(2)["any_shape"], "x": given, "a": given}
    if kind == "a DataArray":
        names["xr"] = require("xarray")
    result = eval(use.format(fix), names)
    expected = direct("To_T_from_Ma", (1.4,), np.asarray(given, dtype=np.float64))
    assert np.asarray(result).tobytes() == expected.tobytes(), kind


def test_the_diagnosis_line_tells_the_ndarray_faults_apart(capsys):
    table = section("## When a call is refused")
    line = re.search(r"`(print\(a\.dtype[^`]*)`", table).group(1)
    good = re.search(r"a good one prints `([^`]+)` for `To_T_from_Ma`", table).group(1)
    printed = {}
    for kind in ("float32", "integers", "two dimensions", "no dimension", "big-endian"):
        exec(line, {"a": culprit(kind)})
        printed[kind] = capsys.readouterr().out.strip()
    exec(line, {"a": np.array([0.5, 2.0])})
    assert capsys.readouterr().out.strip() == good
    assert good not in printed.values() and len(set(printed.values())) == len(printed)


def test_performance_table_is_the_benchmarks_own():
    bench = source_tree() / "bench"
    spec = importlib.util.spec_from_file_location("user_table", bench / "user_table.py")
    user_table = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(user_table)
    performance = section("## Performance")
    runs = sorted((bench / "results").glob("bench*.json"))
    assert len(runs) >= 2  # the latest run, and the earlier one on another processor
    for run in runs:
        results = json.loads(run.read_text(encoding="utf-8"))
        assert user_table.table(results) in performance, run.name
        assert normalised(user_table.heading(results)) in normalised(performance), run.name
