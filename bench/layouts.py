"""The strided walk on views that are not one gap-free block: the library's time per element
on each view as a ratio to np.negative on the same view, both timed in turns in one run, and
a check that each result is, bit for bit, the function applied to a contiguous copy.

    PYTHONPATH=builddir python3 bench/layouts.py [--elements N] [--quick] [--against SO]

np.negative is the floor here: it reads the view once and writes a new array, in the
view's own memory order (the library writes the result in C order). `--against` loads a
second build of the extension module (the path of its .so, for example one built from an
earlier commit) and times it in the same turns, so that a change is measured in one run."""

import argparse
import importlib.machinery
import importlib.util
import sys

import numpy as np
from measure import FULL, QUICK, time_contenders

import ventaroxi as vx

GA = 1.4
FUNCTIONS = ["Mash_from_Ma", "rhoo_rho_from_Ma", "A_Acrit_from_Ma"]


def views(elements, seed=12345):
    """Named views of about `elements` elements each, none of them one gap-free block."""
    side = int(np.sqrt(elements))
    rng = np.random.default_rng(seed)

    def mach(*shape, order="C"):
        return np.asarray(rng.uniform(1.0, 5.0, shape), order=order)

    wide = mach(elements, 3)
    block = mach(side + 200, side + 200)
    fortran = mach(2 * side, side, order="F")
    long_rows = mach(20, elements // 10, order="F")
    flat = mach(2 * elements)
    return {
        "(N, 1) column": wide[:, :1],
        "sliced C block": block[100:-100, 100:-100],
        "Fortran strided": fortran[::2],
        "Fortran, long rows": long_rows[::2],
        "reversed strided": flat[::-2],
        "transposed C strided": mach(side, 2 * side)[:, ::2].T,
    }


def load_build(path):
    """Another build of the module, loaded beside the one on the path: its own copy."""
    loader = importlib.machinery.ExtensionFileLoader("ventaroxi", path)
    spec = importlib.util.spec_from_file_location("ventaroxi", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--elements", type=int, default=1_000_000)
    parser.add_argument("--quick", action="store_true", help="fewer, shorter samples")
    parser.add_argument("--against", metavar="SO", help="another build to time alongside")
    args = parser.parse_args(argv)
    policy = QUICK if args.quick else FULL
    other = load_build(args.against) if args.against else None
    failed = 0
    print(
        f"{'function':<16} {'view':<22} {'shape':>14} {'ns/el':>7} {'negative':>8} {'ratio':>6}"
        + (f" {'against':>8} {'ratio':>6}" if other else "")
    )
    for name, view in views(args.elements).items():
        for function_name in FUNCTIONS:
            function = getattr(vx, function_name)
            contenders = {"ventaroxi": (function, (view, GA)), "negative": (np.negative, (view,))}
            if other:
                contenders["against"] = (getattr(other, function_name), (view, GA))
            timings, results = time_contenders(contenders, view.size, policy, {})
            expected = function(np.ascontiguousarray(view), GA)
            same = all(
                r.tobytes() == expected.tobytes() for k, r in results.items() if k != "negative"
            )
            failed += not same
            lib, neg = timings["ventaroxi"].per_element, timings["negative"].per_element
            line = (
                f"{function_name:<16} {name:<22} {view.shape!s:>14} {lib * 1e9:7.2f} "
                f"{neg * 1e9:8.2f} {lib / neg:6.2f}"
            )
            if other:
                old = timings["against"].per_element
                line += f" {old * 1e9:8.2f} {old / neg:6.2f}"
            print(line + ("" if same else "  BITS DIFFER"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
