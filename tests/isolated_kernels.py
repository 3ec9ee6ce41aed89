"""The wide kernel sets lend no function to code that may run on a processor without their
instructions (meson.build's kernel_isolation). Run by `meson test` in every build type.

Usage:
  python isolated_kernels.py objects NM SET OBJECT [SET OBJECT ...]
    objcopy isolation: each set's linked object defines no global symbol outside the set's
    namespaces (the linker would be free to pick such a copy of an inline function for other
    code), and defines what the rest of the module takes from it.
  python isolated_kernels.py module OBJDUMP MODULE SET [SET ...]
    link-order isolation: in the linked module, no function outside the wide sets'
    namespaces has an instruction of a vector extension (VEX or EVEX encoded: its mnemonic
    starts with v, or it names a ymm, zmm or mask register)."""

import re
import subprocess
import sys


def exports(kernel_set):
    """What the rest of the module takes from a set; a module that misses one still links
    (an extension module may leave symbols undefined) and fails only on import."""
    return [
        f"ventaroxi::{kernel_set}::evaluators",
        f"ventaroxi::relations::{kernel_set}::power_candidate",
    ]


def in_set(name, kernel_set):
    # binutils' demangler trails clang's mangling of C++20 constraints ("Tk"): such a name is
    # left mangled, and is the set's where its namespaces start it, or start the function
    # that holds it ("_ZZN": a lambda of one of the set's run engines).
    mangled = f"{len(kernel_set)}{kernel_set}"
    return f"::{kernel_set}::" in name or name.startswith(
        tuple(
            f"{z}9ventaroxi{inner}{mangled}"
            for z in ("_ZN", "_ZZN")
            for inner in ("", "9relations")
        )
    )


def check_objects(nm, pairs):
    failed = False
    for kernel_set, path in zip(pairs[::2], pairs[1::2], strict=True):
        listing = subprocess.run(
            [nm, "-C", "--defined-only", path], check=True, capture_output=True, text=True
        ).stdout
        # "address type name": upper-case types are global, weak ones included; local symbols
        # are never merged with another object's.
        symbols = [line.split(maxsplit=2) for line in listing.splitlines()]
        global_symbols = [s[2] for s in symbols if len(s) == 3 and s[1].isupper()]
        strays = [name for name in global_symbols if not in_set(name, kernel_set)]
        missing = [name for name in exports(kernel_set) if name not in global_symbols]
        if missing:
            print(f"{kernel_set}: not defined as global symbols:", *missing, sep="\n  ")
        if strays:
            print(f"{kernel_set}: defined outside its namespaces:", *strays, sep="\n  ")
        if missing or strays:
            failed = True
        else:
            print(f"{kernel_set}: all {len(global_symbols)} global symbols are in its namespaces")
    return 1 if failed else 0


WIDE_REGISTER = re.compile(r"%[yz]mm\d|%k[0-7]\b")


def check_module(objdump, module, kernel_sets):
    listing = subprocess.run(
        [objdump, "-d", "-C", "--no-show-raw-insn", module],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    function = None
    offending = {}
    checked = 0
    for line in listing.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if header:
            function = header.group(1)
            checked += 1
            continue
        parts = line.split("\t")
        if function is None or len(parts) < 2 or not parts[0].strip().endswith(":"):
            continue
        instruction = parts[1].strip()
        if not (instruction.startswith("v") or WIDE_REGISTER.search(instruction)):
            continue
        if not any(in_set(function, s) for s in kernel_sets):
            offending.setdefault(function, instruction)
    if checked == 0:
        print(f"{objdump} listed no function of {module}")
        return 1
    if offending:
        print("vector-extension instructions outside the wide kernel sets:")
        for name, instruction in offending.items():
            print(f"  {name}: {instruction}")
        return 1
    print(f"{checked} functions: vector-extension instructions only in", *kernel_sets)
    return 0


if __name__ == "__main__":
    mode, tool, *rest = sys.argv[1:]
    if mode == "objects":
        sys.exit(check_objects(tool, rest))
    sys.exit(check_module(tool, rest[0], rest[1:]))
