"""The functions as distributed code uses them: pickled by reference, and mapped over chunked
Dask arrays by worker processes with results identical to the direct call, and streamed from
a Zarr store on disk to others with a few chunks in each worker's memory.

The Dask tests need `dask[array,distributed]` (and Zarr) and are skipped without them, unless
VENTAROXI_REQUIRE_OPTIONAL=1 (as in CI) makes its absence a failure.
"""

import importlib.util
import os
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

import ventaroxi as vx

from functions import FUNCTIONS
from support import child_environment, readme_text, require, source_tree


@pytest.mark.parametrize("name", vx.__all__)
def test_functions_pickle_by_reference(name):
    function = getattr(vx, name)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        payload = pickle.dumps(function, protocol=protocol)
        assert pickle.loads(payload) is function
        # A reference is the module's name and the function's, nothing of the code.
        assert len(payload) < 40 + len(name)


def test_a_pickled_function_works_in_another_process():
    payload = pickle.dumps([vx.Ma_from_A_Acrit, vx.To_T_from_Ma])
    code = (
        "import pickle, sys, numpy as np\n"
        "area, temperature = pickle.loads(sys.stdin.buffer.read())\n"
        "print(area.__module__, area(np.array([2.0]), 1.4, True)[0],"
        " temperature(np.array([2.0]), 1.4)[0])"
    )
    run = subprocess.run(
        [sys.executable, "-c", code],
        input=payload,
        capture_output=True,
        env=child_environment(),
        timeout=60,
    )
    assert run.returncode == 0, run.stderr.decode()
    area = vx.Ma_from_A_Acrit(np.array([2.0]), 1.4, True)[0]
    assert run.stdout.decode().split() == ["ventaroxi", repr(float(area)), "1.7999999999999998"]


@pytest.fixture(scope="module")
def client():
    require("dask.array")
    distributed = require("distributed")
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client


def sample(size, seed):
    """Values across every domain, special values included, in random order."""
    rng = np.random.default_rng(seed)
    special = [0.0, -0.0, 1.0, -1.0, np.inf, -np.inf, np.nan, 1e300, 5e-324, 1.2, 0.5, 2.0]
    values = np.concatenate(
        [rng.uniform(-0.5, 3.0, size // 2), np.exp(rng.uniform(-8, 8, size // 2)), special]
    )
    return rng.permutation(values)[:size]


def calls():
    """Each function with each accepted form of its trailing arguments."""
    for name, row in FUNCTIONS.items():
        forms = {
            "absent": [(1.4,)],
            "defaults_false": [(1.4,), (1.4, True)],
            "none_is_false": [(1.4, False), (1.4, True), (1.3, None)],
        }
        yield from ((name, rest) for rest in forms[row.sup])


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


@pytest.mark.parametrize(("name", "rest"), list(calls()))
def test_map_blocks_on_worker_processes_gives_the_direct_result(client, name, rest):
    da = require("dask.array")
    distributed = require("distributed")
    function = getattr(vx, name)
    values = sample(6000, seed=len(name))
    if FUNCTIONS[name].one_dimensional:
        direct = function(values, *rest)
        chunked = da.from_array(values, chunks=1100)  # ragged last block
    else:
        # Blocks of a two-dimensional array are strided views of it.
        values = values.reshape(60, 100)
        direct = function(values, *rest)
        chunked = da.from_array(values, chunks=(16, 30))
    lazy = chunked.map_blocks(function, *rest, dtype=np.float64, meta=np.empty((0,) * values.ndim))
    with distributed.get_task_stream(client) as stream:
        result = client.compute(lazy, sync=True)
    assert same_bits(result, direct)
    # The work ran in the worker processes, not in this one.
    workers = set(client.scheduler_info()["workers"])
    assert stream.data and {task["worker"] for task in stream.data} <= workers
    assert os.getpid() not in client.run(os.getpid).values()


def load_example(name):
    path = source_tree() / "examples" / f"{name}.py"
    spec = importlib.util.spec_from_file_location(f"example_{name}", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


STREAMED_ELEMENTS = 10**8
STREAMED_CHUNK = 4 * 10**6  # 32 MB


@pytest.mark.filterwarnings("error")  # Dask's warning of a large graph among them
def test_streaming_from_disk_holds_a_few_chunks_per_worker(tmp_path):
    """10^8 elements (800 MB) read from a Zarr store and written to two others by two worker
    processes, each of which may hold only a few chunks at any time."""
    require("dask.array")
    require("distributed")
    zarr = require("zarr")
    scale_out = load_example("scale_out")
    chunk_bytes = STREAMED_CHUNK * 8
    figures = scale_out.run(tmp_path, STREAMED_ELEMENTS, STREAMED_CHUNK, 2, "1GiB")
    for peak, ready in zip(figures["peak_bytes"], figures["ready_bytes"], strict=True):
        print(
            f"worker peak {peak / 2**20:.0f} MiB, {(peak - ready) / chunk_bytes:.1f} chunks above ready"
        )
        assert peak - ready <= 6 * chunk_bytes
    assert len(figures["peak_bytes"]) == 2
    assert sum(figures["counts"]) == STREAMED_ELEMENTS

    Po_P = zarr.open_array(str(tmp_path / "Po_P.zarr"), mode="r")
    Ma = zarr.open_array(str(tmp_path / "Ma.zarr"), mode="r")
    flow = zarr.open_array(str(tmp_path / "flow.zarr"), mode="r")
    assert Po_P.shape == Ma.shape == flow.shape == (STREAMED_ELEMENTS,)
    assert Po_P.chunks == Ma.chunks == (STREAMED_CHUNK,)
    last = STREAMED_ELEMENTS // STREAMED_CHUNK - 1
    for index in (0, 7, last):
        part = slice(index * STREAMED_CHUNK, (index + 1) * STREAMED_CHUNK)
        given = Po_P[part]
        assert 1.0 <= given.min() and given.max() < 20.0  # the field was written
        direct = vx.Ma_from_Po_P(given, 1.4)
        assert same_bits(Ma[part], direct)
        assert same_bits(flow[part], vx.mcpTo_APo_from_Ma(direct, 1.4))


def test_the_readme_recipe_streams_from_disk_without_warnings(tmp_path):
    """The README's recipe as a script, warnings being errors: the .npy file it writes, then
    the store it converts it to, then the Mach numbers."""
    require("dask.array")
    require("distributed")
    zarr = require("zarr")
    readme = readme_text()
    section = readme[readme.index("## Scale-out with Dask") :]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)[:2]
    for number, block in enumerate(blocks):
        (tmp_path / f"step{number}.py").write_text(block, encoding="utf-8")
        run = subprocess.run(
            # Every warning an error, but that the dashboard's port 8787 is taken.
            [
                sys.executable,
                "-W",
                "error",
                "-W",
                "ignore:Port 8787:UserWarning",
                f"step{number}.py",
            ],
            capture_output=True,
            text=True,
            cwd=tmp_path,
            env=child_environment(),
            timeout=300,
        )
        assert run.returncode == 0, run.stderr
    values = np.load(tmp_path / "Po_P.npy")
    assert values.shape == (3_000_000,) and 1.0 <= values.min() and values.max() < 20.0
    Ma = zarr.open_array(str(tmp_path / "Ma.zarr"), mode="r")
    assert same_bits(Ma[:], vx.Ma_from_Po_P(values, 1.4))
