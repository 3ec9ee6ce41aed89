"""The functions as distributed code uses them: pickled by reference, and mapped over chunked
Dask arrays by worker processes with results identical to the direct call.

The Dask tests need `dask[array,distributed]` and are skipped without it, unless
VENTAROXI_REQUIRE_OPTIONAL=1 (as in CI) makes its absence a failure.
"""

import inspect
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import ventaroxi as vx

from support import child_environment, require


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
    for name in vx.__all__:
        parameters = inspect.signature(getattr(vx, name)).parameters
        if "sup" not in parameters:
            yield name, (1.4,)
        elif name == "Ma_from_mcpTo_APo":
            yield from ((name, (1.4,)), (name, (1.4, True)))
        else:
            yield from ((name, (1.4, False)), (name, (1.4, True)), (name, (1.3, None)))


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


@pytest.mark.parametrize(("name", "rest"), list(calls()))
def test_map_blocks_on_worker_processes_gives_the_direct_result(client, name, rest):
    da = require("dask.array")
    distributed = require("distributed")
    function = getattr(vx, name)
    values = sample(6000, seed=len(name))
    one_dimensional = name in ("To_T_from_Ma", "Po_P_from_Ma")
    if one_dimensional:
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
