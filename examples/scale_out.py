"""Scale-out with Dask: a chunked array on disk, far larger than one process should hold,
evaluated chunk by chunk on a local cluster of worker processes and written back to disk.

Each task reads one chunk of the Zarr store of Po/P, computes its Mach numbers and mass-flow
function, and writes them to chunks of two other stores: the task graph holds only the
stores' paths and the chunks' positions, never data, and no process holds more than a few
chunks. The functions pickle by reference (the module's name and the function's), so
shipping them to a worker costs a few bytes and each worker calls its own imported copy. The
same code runs on a multi-machine cluster with a shared file system: only the `Client`
changes.

The input is written first, by the workers too: uniform Po/P between 1 and 20, each chunk
drawn from a generator seeded by its position, so every run sees the same field. The stores
go to a temporary folder, inside --folder if given (a disk with room for 24 bytes per
element), which is deleted at the end.

Run:  python examples/scale_out.py [--elements 1e8] [--chunk 4e6] [--workers 2]
                                   [--memory-limit 1GiB] [--folder PATH]
"""

import argparse
import pathlib
import resource
import tempfile
import time

import dask
import dask.array as da
import numpy as np
import zarr
from dask.distributed import Client, LocalCluster

import ventaroxi as vx

GA = 1.4
BINS = np.array([0.0, 0.5, 0.8, 1.0, 1.2, 1.5, 2.0, 3.0])
# The choking value of the mass-flow function, its largest, at Mach 1.
CHOKING = float(vx.mcpTo_APo_from_Ma(np.array([1.0]), GA)[0])
NEAR_CHOKING = 2e-4


def draw(block_info=None, seed=2024):
    """One chunk of Po/P between 1 and 20, from a generator seeded by its position."""
    block = block_info[None]
    rng = np.random.default_rng([seed, block["chunk-location"][0]])
    return rng.uniform(1.0, 20.0, size=block["chunk-shape"])


def write_field(path, elements, chunk):
    """Writes the Po/P store, each chunk drawn and written by a worker."""
    full, rest = divmod(elements, chunk)
    chunks = ((chunk,) * full + ((rest,) if rest else ()),)
    field = da.map_blocks(draw, chunks=chunks, dtype=np.float64, meta=np.empty(0))
    # Uncompressed: uniform random doubles do not compress; measured data often does.
    field.to_zarr(str(path), compressors=None, mode="w")


def reduce(source, mach_path, flow_path, ga=GA):
    """Mach number and mass-flow function of every element of the store at `source`, written
    chunk by chunk to the stores at `mach_path` and `flow_path`; one pass over the input."""
    Po_P = da.from_zarr(str(source))
    Ma = Po_P.map_blocks(vx.Ma_from_Po_P, ga, dtype=np.float64, meta=np.empty(0))
    flow = Ma.map_blocks(vx.mcpTo_APo_from_Ma, ga, dtype=np.float64, meta=np.empty(0))
    # Both stores in one computation, so that each Mach-number chunk is computed once.
    dask.compute(
        da.to_zarr(Ma, str(mach_path), compressors=None, mode="w", compute=False),
        da.to_zarr(flow, str(flow_path), compressors=None, mode="w", compute=False),
    )


def peak_resident_bytes():
    """The calling process's peak resident memory (Linux counts ru_maxrss in KiB)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def ready_resident_bytes():
    """A worker's peak resident memory once it has imported what the tasks use: the level
    that the chunks in flight add to."""
    import dask.array  # noqa: F401
    import zarr  # noqa: F401

    import ventaroxi  # noqa: F401

    return peak_resident_bytes()


def sampled_chunks_identical(source, mach_path, samples=3, seed=1):
    """A few chunks read back from disk against the direct call in this process, bit for bit."""
    Po_P, Ma = zarr.open_array(str(source), mode="r"), zarr.open_array(str(mach_path), mode="r")
    chunk = Po_P.chunks[0]
    count = -(-Po_P.shape[0] // chunk)
    picked = np.random.default_rng(seed).choice(count, size=min(samples, count), replace=False)
    for index in sorted({0, count - 1, *picked.tolist()}):
        part = slice(index * chunk, (index + 1) * chunk)
        direct = vx.Ma_from_Po_P(Po_P[part], GA)
        if direct.tobytes() != Ma[part].tobytes():
            return False
    return True


def summary(mach_path, flow_path):
    """Histogram of the Mach numbers, their largest, and the count near choking, read back
    chunk by chunk from the written stores."""
    Ma, flow = da.from_zarr(str(mach_path)), da.from_zarr(str(flow_path))
    counts, _ = da.histogram(Ma, bins=BINS)
    return da.compute(counts, Ma.max(), (flow > CHOKING - NEAR_CHOKING).sum())


def run(folder, elements, chunk, workers, memory_limit):
    """Writes the field, reduces it on `workers` worker processes; returns the figures."""
    folder = pathlib.Path(folder)
    source, mach_path, flow_path = (folder / name for name in ("Po_P.zarr", "Ma.zarr", "flow.zarr"))
    with (
        LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            memory_limit=memory_limit,
            dashboard_address=":0",  # any free port: 8787 may be taken
        ) as cluster,
        Client(cluster) as client,
    ):
        ready = client.run(ready_resident_bytes)
        write_field(source, elements, chunk)
        start = time.perf_counter()
        reduce(source, mach_path, flow_path)
        seconds = time.perf_counter() - start
        peaks = client.run(peak_resident_bytes)
        counts, largest, near_choking = summary(mach_path, flow_path)
    return {
        "seconds": seconds,
        "elements_per_second": elements / seconds,
        "peak_bytes": list(peaks.values()),
        "ready_bytes": list(ready.values()),
        "counts": counts,
        "largest": float(largest),
        "near_choking": int(near_choking),
        "identical": sampled_chunks_identical(source, mach_path),
    }


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--elements", type=float, default=1e8)
    parser.add_argument("--chunk", type=float, default=4e6, help="elements per chunk")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--memory-limit", default="1GiB", help="per worker, as Dask reads it")
    parser.add_argument("--folder", help="where the stores go (default: a temporary folder)")
    args = parser.parse_args(argv)
    elements, chunk = int(args.elements), int(args.chunk)

    print(
        f"Po/P: {elements:,} float64 = {elements * 8 / 1e9:.2f} GB on disk, in chunks of "
        f"{chunk:,} ({chunk * 8 / 1e6:.0f} MB), on {args.workers} worker processes"
    )
    with tempfile.TemporaryDirectory(dir=args.folder) as scratch:
        figures = run(scratch, elements, chunk, args.workers, args.memory_limit)

    peaks = ", ".join(
        f"{peak / 2**20:.0f} ({(peak - ready) / 2**20:.0f} above its {ready / 2**20:.0f} when ready)"
        for peak, ready in zip(figures["peak_bytes"], figures["ready_bytes"], strict=True)
    )
    print(
        f"read, reduced and written in {figures['seconds']:.2f} s: "
        f"{figures['elements_per_second'] / 1e6:.1f} million elements/s; "
        f"peak resident memory per worker [MiB]: {peaks}"
    )
    print(
        f"largest Mach number {figures['largest']:.6f}; samples with mass-flow function within "
        f"{NEAR_CHOKING:g} of the choking value {CHOKING:.6f}: {figures['near_choking']:,}"
    )
    print(f"sampled chunks identical to the direct call, bit for bit: {figures['identical']}")
    counts = figures["counts"]
    print(f"{'Mach number':>13} {'samples':>13} {'share':>7}")
    for low, high, count in zip(BINS[:-1], BINS[1:], counts, strict=True):
        print(f"{low:5.2f} - {high:4.2f}  {count:13,d} {count / counts.sum():7.2%}")
    if not figures["identical"]:
        raise SystemExit("the distributed result differs from the direct call")


if __name__ == "__main__":
    main()
