"""The README and the figures say what the module does: the quick start's printed values,
the reference's signatures, the stub's names and the figures the README shows."""

import ast
import importlib.util
import inspect
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
