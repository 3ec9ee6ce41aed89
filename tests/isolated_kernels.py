"""The AVX2 kernels define nothing outside their own namespace: the linker would be free to
pick such a copy of an inline function for code that runs on processors without AVX2. Run by
`meson test` on the AVX2 object that the module links, whatever the build type.

Usage: python isolated_kernels.py NM OBJECT"""

import subprocess
import sys

# What the rest of the module takes from the AVX2 kernels; a module that misses one still
# links (an extension module may leave symbols undefined) and fails only on import.
EXPORTS = ["ventaroxi::avx2::evaluators", "ventaroxi::relations::avx2::power_candidate"]


def main(nm, path):
    listing = subprocess.run(
        [nm, "-C", "--defined-only", path], check=True, capture_output=True, text=True
    ).stdout
    # "address type name" (an archive adds "member:" lines): upper-case types are global,
    # weak ones included; local symbols are never merged with another object's.
    symbols = [line.split(maxsplit=2) for line in listing.splitlines()]
    global_symbols = [s[2] for s in symbols if len(s) == 3 and s[1].isupper()]
    strays = [name for name in global_symbols if "::avx2::" not in name]
    missing = [name for name in EXPORTS if name not in global_symbols]
    if missing:
        print("not defined as global symbols:", *missing, sep="\n  ")
        return 1
    if strays:
        print("defined outside the avx2 namespaces:", *strays, sep="\n  ")
        return 1
    print(f"AVX2 kernels: all {len(global_symbols)} global symbols are in an avx2 namespace")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
