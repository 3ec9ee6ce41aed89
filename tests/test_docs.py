"""The README and the figures say what the module does: the quick start's printed values,
the reference's signatures, the stub's names and the figures the README shows."""

import ast
import importlib.util
import inspect
import json
import pathlib
import re
import struct

import numpy as np
import pytest

import ventaroxi as vx

from support import require

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
IMAGES = ROOT / "docs" / "images"


def code_block(after_heading, language="python"):
    section = README[README.index(after_heading) :]
    return re.search(rf"```{language}\n(.*?)```", section, re.S).group(1)


def expectations(block):
    """(statement, expected repr) for each line of code followed by a '# array(' comment,
    continued on the comment-only lines below it."""
    pairs, lines = [], block.splitlines()
    for number, line in enumerate(lines):
        code, _, comment = line.partition("#")
        if "array(" not in comment:
            continue
        expected = [comment.strip().lstrip("#").strip()]
        for follower in lines[number + 1 :]:
            if not follower.lstrip().startswith("#"):
                break
            expected.append(follower.strip().lstrip("#").strip())
        if not code.strip():  # the result of the statement on the line above
            code = lines[number - 1]
        pairs.append((code.strip(), " ".join(expected)))
    return pairs


def normalised(text):
    return re.sub(r"\s+", "", text)


def test_first_code_block_is_install_test_and_an_example():
    lines = code_block("# ventaroxi", "sh").splitlines()
    assert lines[0] == "python3 -m pip install '.[test]'"
    assert lines[1] == "python3 -m pytest"
    namespace = {}
    exec(
        lines[2].removeprefix('python3 -c "').removesuffix('"').replace("print", "result = "),
        namespace,
    )
    # The text under the block quotes what the third line prints.
    subsonic, supersonic = namespace["result"]
    quoted = f"`{np.array2string(subsonic)} {np.array2string(supersonic)}`"
    assert quoted in README


def test_quick_start_prints_what_it_says():
    block = code_block("## Quick start")
    namespace = {}
    exec(block, namespace)
    pairs = expectations(block)
    assert len(pairs) == 5
    for code, expected in pairs:
        value = eval(code.split("=", 1)[1] if re.match(r"\w+ = ", code) else code, namespace)
        assert normalised(repr(value)) == normalised(expected), code


@pytest.mark.parametrize("name", vx.__all__)
def test_reference_gives_each_signature(name):
    signature = f"{name}{inspect.signature(getattr(vx, name))}"
    rows = [line for line in README.splitlines() if line.startswith(f"| `{name}(")]
    assert [row.split("`")[1] for row in rows] == [signature]


def test_stub_declares_the_module_functions_in_order():
    tree = ast.parse((ROOT / "ventaroxi.pyi").read_text(encoding="utf-8"))
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


def load_figures():
    spec = importlib.util.spec_from_file_location("figures", ROOT / "docs" / "figures.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_readme_shows_every_committed_figure_and_only_those():
    shown = set(re.findall(r"!\[[^\]]*\]\(docs/images/([^)]+)\)", README))
    committed = {path.name for path in IMAGES.glob("*.png")}
    assert shown == committed
    assert len(committed) >= 4


def test_figures_script_draws_the_committed_figures(tmp_path):
    require("matplotlib")
    figures = load_figures()
    figures.main([str(tmp_path)])
    drawn = {path.name: png_size(path) for path in tmp_path.glob("*.png")}
    committed = {path.name: png_size(path) for path in IMAGES.glob("*.png")}
    assert drawn == committed


def test_pandas_and_xarray_recipes_keep_labels_and_values():
    pd = require("pandas")
    xr = require("xarray")
    require("dask.array")
    namespace = {}
    exec(code_block("## pandas and xarray"), namespace)
    log, Ma = namespace["log"], namespace["Ma"]
    assert isinstance(Ma, pd.Series) and Ma.index.equals(log.index)
    direct = vx.Ma_from_Po_P(np.array([1.1, 1.5, 2.0, 0.9]), 1.4)
    assert Ma.to_numpy().tobytes() == direct.tobytes()
    assert log["Ma"].to_numpy().tobytes() == direct.tobytes() and np.isnan(direct[3])

    area = namespace["area"]
    expected = vx.Ma_from_A_Acrit(area.to_numpy(), 1.4, True)
    for name in ("Ma_sup", "Ma_lazy"):
        result = namespace[name]
        assert isinstance(result, xr.DataArray)
        assert result.dims == area.dims
        assert all(result.coords[c].equals(area.coords[c]) for c in area.coords)
        assert (name == "Ma_lazy") == (result.chunks is not None)  # lazy until computed
        assert result.compute().to_numpy().tobytes() == expected.tobytes()


def refusals():
    """A call for each message a user can meet, in the README's order."""
    pd = require("pandas")
    xr = require("xarray")
    ok = np.array([2.0])
    two_d = np.ones((2, 2))
    calls = [
        lambda: vx.To_T_from_Ma(0.5, 1.4),
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
    section = README[README.index("## When a call is refused") :]
    section = section[: section.index("\n## ", 1)]
    listed = re.findall(r"^\| [^|]+ \| `([^`]+)` \|", section, re.M)
    produced = [refusal_text(call) for call in refusals()]
    numpy_1 = "only length-1 arrays can be converted to Python scalars"
    if int(np.__version__.split(".")[0]) < 2:  # the README quotes NumPy 2's text, and this one
        assert f"`{numpy_1}`" in section
        produced = [
            t.replace(numpy_1, "only 0-dimensional arrays can be converted to Python scalars")
            for t in produced
        ]
    assert sorted(set(produced)) == sorted(listed)
    assert len(listed) == len(set(listed))
    # The None case for ga is the same text but for the type, as the README says.
    assert refusal_text(lambda: vx.To_T_from_Ma(np.array([2.0]), None)).endswith("not NoneType")


def test_performance_table_is_the_benchmarks_own():
    spec = importlib.util.spec_from_file_location("user_table", ROOT / "bench" / "user_table.py")
    user_table = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(user_table)
    results = json.loads((ROOT / "bench" / "results" / "bench.json").read_text(encoding="utf-8"))
    section = README[README.index("## Performance") :]
    assert user_table.table(results) in section
    assert normalised(user_table.heading(results)) in normalised(section)
