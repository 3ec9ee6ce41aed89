"""What bounds the area-ratio inverse on this processor.

    python3 bench/area_ratio_bound.py [--isa KERNEL_SET] [--elements N]

Builds bench/area_ratio_bound.cpp for a kernel set and prints, per branch, on the benchmark's
targets: the evaluations of the forward relation one target alone makes, the forward
relation's and the inverse's time per element, the inverse's opening (the Newton prediction,
the windows and the walk to the first evaluating pass), and the time those evaluations need at
the fastest rate of dependent evaluations (each waiting for the one before, as the passes of a
search do; 1 to 4 vectors side by side, one after the other or interleaved, printed too).
x86-64.
"""

import argparse
import json
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from harness import FLAGS, ROOT, kernel_sets


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    lane_sets = [s.name for s in kernel_sets.kernel_sets() if s.power == "lanes"]
    parser.add_argument("--isa", default="avx2", choices=lane_sets, help="the kernel set")
    parser.add_argument("--elements", type=int, default=1_000_000)
    args = parser.parse_args()
    kernel_set = kernel_sets.by_name(args.isa)
    with tempfile.TemporaryDirectory() as build:
        binary = str(pathlib.Path(build) / "area_ratio_bound")
        sources = [
            ROOT / "bench" / "area_ratio_bound.cpp",
            kernel_sets.RELATIONS / "power_tables.cpp",
        ]
        kernel_sets.compile(
            [*FLAGS, *kernel_set.arguments, *map(str, sources), "-o", binary], binary
        )
        run = subprocess.run(
            [binary, str(args.elements)], capture_output=True, text=True, check=True
        )
    result = json.loads(run.stdout)
    chains = ", ".join(f"{ns:.1f}" for ns in result["dependent_vector_ns"])
    interleaved = ", ".join(f"{ns:.1f}" for ns in result["interleaved_vector_ns"])
    print(
        f"kernel set {args.isa}, {result['lane_count']} lanes, {result['elements']:,} targets a "
        f"branch; dependent evaluations, ns a vector, 1 to 4 side by side: {chains}; "
        f"2 to 4 interleaved: {interleaved}"
    )
    for branch in ("sub", "sup"):
        r = result[branch]
        print(
            f"  {branch}: {r['evaluations_per_element']:.2f} evaluations an element alone; "
            f"forward {r['forward_ns']:.2f} ns, inverse {r['inverse_ns']:.1f} ns "
            f"({r['inverse_over_forward']:.1f}x), of which opening {r['opening_ns']:.1f} ns; "
            f"the evaluations at the dependent rate {r['evaluations_alone_ns']:.1f} ns "
            f"({r['bound_over_forward']:.1f}x the forward relation)"
        )


if __name__ == "__main__":
    main()
