"""Scale-out with Dask: the functions over a chunked array far larger than one process should
hold, evaluated block by block on a local cluster of worker processes.

The functions take a NumPy array and return a new one of the same shape, so
`dask.array.map_blocks` applies them to each block as it is. They pickle by reference (the
module's name and the function's), so shipping them to a worker costs a few bytes and each
worker calls its own imported copy. The same code runs on a multi-machine cluster: only the
`Client` changes.

The field below is a lazy 10^11-element array of stagnation-to-static pressure ratios,
800 GB in float64 in blocks of 80 MB, that nobody ever holds whole: each block is drawn, reduced and dropped
by a worker. By default only its first few blocks are computed, so that the example runs in
seconds; `--blocks all` runs the whole of it.

Run:  python examples/scale_out.py [--workers 2] [--blocks 2] [--rows 100] [--columns 100000]
"""

import argparse
import time

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import ventaroxi as vx

GA = 1.4
TOTAL_ROWS = 1_000_000  # with 100,000 columns: 10^11 elements
BINS = np.array([0.0, 0.5, 0.8, 1.0, 1.2, 1.5, 2.0, 3.0])


def pressure_ratio_field(rows, columns, rows_per_block, seed=2024):
    """A lazy field of Po/P between 1 and 20; each block is drawn only when it is computed,
    from a generator seeded by the block's position, so every run sees the same field."""

    def draw(block_info=None):
        block = block_info[None]
        rng = np.random.default_rng([seed, block["chunk-location"][0]])
        return rng.uniform(1.0, 20.0, size=block["chunk-shape"])

    full, rest = divmod(rows, rows_per_block)
    row_chunks = (rows_per_block,) * full + ((rest,) if rest else ())
    return da.map_blocks(
        draw, chunks=(row_chunks, (columns,)), dtype=np.float64, meta=np.empty((0, 0))
    )


def mach_number(pressure_ratio):
    """Ma from Po/P, block by block; `meta` tells Dask the result type without a trial call."""
    return pressure_ratio.map_blocks(vx.Ma_from_Po_P, GA, dtype=np.float64, meta=np.empty((0, 0)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--blocks", default="2", help="blocks of rows to compute, or 'all'")
    parser.add_argument("--rows", type=int, default=100, help="rows per block")
    parser.add_argument("--columns", type=int, default=100_000)
    parser.add_argument(
        "--total-rows", type=int, default=TOTAL_ROWS, help="rows of the whole field"
    )
    args = parser.parse_args()

    field = pressure_ratio_field(args.total_rows, args.columns, args.rows)
    blocks = field.numblocks[0] if args.blocks == "all" else int(args.blocks)
    part = field[: blocks * args.rows]
    mach = mach_number(part)
    # Mass flow per unit area, referred to stagnation pressure, of the same field.
    flow = mach.map_blocks(vx.mcpTo_APo_from_Ma, GA, dtype=np.float64, meta=np.empty((0, 0)))

    print(
        f"field: {field.shape[0]:,} x {field.shape[1]:,} float64 = {field.nbytes / 1e9:,.0f} GB lazily, "
        f"{field.numblocks[0]:,} blocks of {field.chunksize[0] * field.chunksize[1] * 8 / 1e6:,.0f} MB"
    )
    print(
        f"computing {blocks} block(s), {part.nbytes / 1e9:.2f} GB, on {args.workers} worker processes"
    )

    with (
        LocalCluster(
            n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        Client(cluster) as client,
    ):
        start = time.perf_counter()
        counts, _ = da.histogram(mach, bins=BINS)
        counts, largest, choked = client.compute(
            [counts, mach.max(), (flow > 1.281).sum()], sync=True
        )
        seconds = time.perf_counter() - start

        # The first rows, evaluated directly in this process: identical bits.
        rows = client.compute(part[:10], sync=True)
        direct = vx.Ma_from_Po_P(rows, GA)
        distributed = client.compute(mach[:10], sync=True)
        identical = direct.tobytes() == distributed.tobytes()

    print(
        f"done in {seconds:.2f} s; largest Mach number {largest:.6f}; "
        f"samples within 0.0002 of the choking mass flow: {choked:,}"
    )
    print(f"first rows identical to the direct call, bit for bit: {identical}")
    print(f"{'Mach number':>13} {'samples':>13} {'share':>7}")
    for low, high, count in zip(BINS[:-1], BINS[1:], counts, strict=True):
        print(f"{low:5.2f} - {high:4.2f}  {count:13,d} {count / counts.sum():7.2%}")
    if not identical:
        raise SystemExit("the distributed result differs from the direct call")


if __name__ == "__main__":
    main()
