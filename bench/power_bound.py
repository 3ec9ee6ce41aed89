"""How close the lane power runs to this processor's throughput for its own operations.

    python3 bench/power_bound.py [--isa KERNEL_SET] [--samples N] [--vex-only]

Builds bench/power_bound.cpp for a kernel set: loops that evaluate the power over data in the
first-level cache with 1 to 4 vectors side by side. For each loop it disassembles the hot path
(the loop body, forward branches to the special cases not taken) and counts its operations
per element by kind. Then it writes the "mix": the same instructions, in the same order, with
every dependency between them cut (destinations rotate through registers written again only
many instructions later, sources are registers never written, table loads read fixed
addresses), so that it runs as fast as the execution units take that mix of operations and
no dependent chain waits. Both are timed in turns in one process (thread CPU time, fastest of
the samples); the loop's time over its mix's time is how far the power is from its
throughput bound. x86-64 with AVX only (the mix of the baseline set's SSE2 code is written
with the VEX forms of its instructions); needs objdump and the C++ compiler's assembler.
"""

import argparse
import collections
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from harness import FLAGS, ROOT, kernel_sets

SOURCE = ROOT / "bench" / "power_bound.cpp"
KINDS = [
    ("fp fma", r"vfn?m(add|sub)"),
    ("fp mul", r"v?mul[ps]d"),
    ("fp add", r"v?(add|sub)[ps]d"),
    ("division", r"v?(div|sqrt)[ps]d"),
    ("compare/mask", r"v?pcmp|v?cmp[ps]d|v?movmsk|kmov|kor|kand|vpmov.2m|vptest"),
    ("to integer register", r"v?movq$|v?pextr|v?movd$"),
    (
        "shuffle",
        r"v?unpck|v?perm|v?insert|v?extract|v?shuf|v?pshuf|valign|v?movhlps|v?movlhps|"
        r"v?punpck|v?pblend|v?blend",
    ),
    (
        "vector integer",
        r"v?p(add|sub|and|or|xor|sll|srl|sra|ternlog|min|max)|v?(and|or|xor)n?p[sd]",
    ),
]


def hot_path(dump, function):
    """The instructions of the largest loop of `function`, from its head along the fall-through
    of forward branches and the targets of jumps back to the head."""
    body = dump.split(f"<{function}>:\n", 1)[1].split("\n\n", 1)[0]
    lines = []
    for line in body.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\t(.*)", line)
        if m:
            lines.append((int(m.group(1), 16), m.group(2).split("#")[0].strip()))
    index = {address: i for i, (address, _) in enumerate(lines)}

    def walk(head):
        path, i = [], index[head]
        while i < len(lines) and len(path) < 5000:
            _, text = lines[i]
            if text.startswith(("call", "ret")):
                return None
            path.append(text)
            jump = re.match(r"(j[a-z]+)\s+([0-9a-f]+)", text)
            if jump:
                target = int(jump.group(2), 16)
                if target == head:
                    return path
                if jump.group(1) == "jmp":
                    if target not in index:
                        return None
                    i = index[target]
                    continue
            i += 1
        return None

    loops = []
    for address, text in lines:
        jump = re.match(r"j[a-z]+\s+([0-9a-f]+)", text)
        if jump and int(jump.group(1), 16) < address:
            loops.append(walk(int(jump.group(1), 16)))
    return max((loop for loop in loops if loop), key=len)


def kind_of(instruction):
    mnemonic, _, operands = instruction.partition(" ")
    scalar = mnemonic in ("cmp", "test", "add", "sub", "and", "or", "xor", "lea", "imul")
    if scalar or (mnemonic.startswith(("j", "mov", "sh", "sa")) and "mm" not in operands):
        return "scalar integer, branch"
    if re.fullmatch(r"v?mov(apd|aps|dqa|dqu|dqa64|dqu64|upd|ups)", mnemonic):
        memory = "PTR" in operands
        if not memory:
            return "register copy"
        return "store" if operands.split(",")[0].strip().endswith("]") else "load"
    if re.match(r"v?movsd$|v?movhpd$|v?movlpd$", mnemonic) and "PTR" in operands:
        return "load"
    if re.match(r"vp?broadcast", mnemonic):  # a constant into every lane
        return "load" if "PTR" in operands else "shuffle"
    for kind, pattern in KINDS:
        if re.match(pattern, mnemonic):
            return kind
    return "other"


def count(path, elements):
    """Operations per element by kind; an arithmetic operation that reads memory also counts
    as a load, and a memory operand on the stack as a spill reload."""
    kinds = collections.Counter()
    for instruction in path:
        kind = kind_of(instruction)
        kinds[kind] += 1
        operands = instruction.partition(" ")[2]
        if "PTR" in operands and kind not in ("load", "store"):
            kinds["load" if not operands.split(",")[0].strip().endswith("]") else "store"] += 1
        if re.search(r"\[r[bs]p", operands):
            kinds["of which stack (spill)"] += 1
    return {kind: n / elements for kind, n in sorted(kinds.items())}


MASK_OPERAND = re.compile(r"\{[^}]*\}")
# Legacy SSE instructions whose destination is also a source.
DESTRUCTIVE = re.compile(
    r"(add|sub|mul|div|and|andn|or|xor|max|min)[ps]d$|p(add|sub|and|andn|or|xor|cmp|sll|srl|sra|mul)|"
    r"unpck|punpck|shufp|movhlps|movlhps|movhp|movlp|pack"
)
# Instructions whose VEX form has no EVEX twin: their registers stay below 16.
VEX_ONLY = re.compile(
    r"v(pcmpgt|pcmpeq|perm2f128|perm2i128|pblendd|blendv|pblendvb|movmsk|ptest|testp)"
)
EVEX_NAME = {
    "vpand": "vpandq",
    "vpor": "vporq",
    "vpxor": "vpxorq",
    "vpandn": "vpandnq",
    "vinsertf128": "vinsertf64x2",
    "vinserti128": "vinserti64x2",
    "vextracti128": "vextracti64x2",
    "vextractf128": "vextractf64x2",
    "vmovdqa": "vmovdqa64",
    "vmovdqu": "vmovdqu64",
}


def mix(path, name, evex):
    """The instructions of `path` as the function `name(iterations, tables, constants,
    scratch)`, every dependency between them cut."""

    def rotation(names):
        position = 0

        def take():
            nonlocal position
            position += 1
            return names[(position - 1) % len(names)]

        return take

    low = rotation([str(i) for i in range(4, 16)])  # registers a VEX instruction can name
    high = rotation([str(i) for i in range(12, 32)]) if evex else low
    gprs = rotation(["r8", "r9", "r10", "r11"])
    masks = rotation([f"k{i}" for i in range(2, 8)])
    offsets = collections.Counter()
    out = [
        ".intel_syntax noprefix",
        ".text",
        f".globl {name}",
        f".type {name},@function",
        f"{name}:",
        # Sources: normal numbers (a subnormal or NaN operand could take a slow path).
        "    vbroadcastsd ymm0, QWORD PTR [rdx]",
        *(f"    vmovapd ymm{i}, ymm0" for i in (1, 2, 3)),
        "1:",
    ]
    for instruction in path:
        mnemonic, _, rest = instruction.partition(" ")
        if mnemonic.startswith("j") or mnemonic in ("nop", "cmp"):
            continue
        operands = [MASK_OPERAND.sub("", o).strip() for o in re.split(r",(?![^\[]*\])", rest) if o]
        if "xmm" in rest and not mnemonic.startswith("v"):
            # A legacy SSE instruction as its three-operand VEX twin (the same operation on the
            # same units), so that its destination is not also a source: no chain through it.
            if DESTRUCTIVE.match(mnemonic) and re.fullmatch(r"xmm\d+", operands[0]):
                operands.insert(1, operands[0])
            mnemonic = "v" + mnemonic
        # Legacy SSE instructions and those without an EVEX form name registers below 16.
        wide = evex and mnemonic.startswith("v") and not VEX_ONLY.match(mnemonic)
        written = []
        for position, operand in enumerate(operands):
            destination = position == 0 and len(operands) > 1
            vector = re.fullmatch(r"([xyz])mm\d+", operand)
            if vector:
                width = vector.group(1)
                register = (
                    (high if wide or width == "z" else low)() if destination else str(position % 4)
                )
                written.append(f"{width}mm{register}")
            elif re.fullmatch(r"k\d", operand):
                written.append(masks() if destination else "k1")
            elif re.fullmatch(r"r\w+|e[a-z]+", operand):
                register = gprs() if destination and not mnemonic.startswith("k") else "r8"
                if mnemonic.startswith("k") and not destination:
                    register = "k1"
                written.append(
                    register if operand.startswith("r") or register == "k1" else register + "d"
                )
            elif "[" in operand:
                size = operand.split("[")[0]
                if destination:
                    base, area, start = "rcx", "store", 8192
                elif "rip" in operand:
                    base, area, start = "rdx", "constant", 0
                elif re.search(r"\[r[bs]p", operand):
                    base, area, start = "rcx", "stack", 0
                else:
                    base, area, start = "rsi", "table", 0
                written.append(f"{size}[{base}+{start + offsets[area] % 4096}]")
                offsets[area] += 64
            else:
                written.append(operand)
        if wide and any(re.fullmatch(r"[xyz]mm(1[6-9]|2\d|3[01])", o) for o in written):
            mnemonic = EVEX_NAME.get(mnemonic, mnemonic)
        if not evex and re.match(r"vfn?m(add|sub)", mnemonic):
            # A fused multiply-add reads its destination, and twelve registers rotate too fast
            # for its latency: a zeroing idiom (no execution unit) cuts that chain.
            out.append(f"    vxorpd {written[0]}, {written[0]}, {written[0]}")
        out.append(f"    {mnemonic} {', '.join(written)}")
    out += ["    dec rdi", "    jnz 1b", "    vzeroupper", "    ret", f".size {name}, .-{name}"]
    return "\n".join(out) + "\n"


def compile_program(build, kernel_set, mixes, output):
    objects = []
    for k, text in mixes.items():
        assembly = pathlib.Path(build) / f"mix_{k}.s"
        assembly.write_text(text + '.section .note.GNU-stack,"",@progbits\n')
        objects.append(str(assembly))
    sources = [str(SOURCE), str(kernel_sets.RELATIONS / "power_tables.cpp"), *objects]
    kernel_sets.compile([*FLAGS, *kernel_set.arguments, *sources, "-o", output], output)


def disassembly(binary):
    return subprocess.run(
        ["objdump", "-d", "--no-show-raw-insn", "-M", "intel", binary],
        capture_output=True,
        text=True,
        check=True,
    ).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    lane_sets = [s.name for s in kernel_sets.kernel_sets() if s.power == "lanes"]
    parser.add_argument("--isa", default=lane_sets[0], choices=lane_sets, help="the kernel set")
    parser.add_argument("--samples", type=int, default=200)
    parser.add_argument(
        "--vex-only",
        action="store_true",
        help="the mix names only the 16 registers of AVX2, as on a processor without AVX-512 "
        "(it names 32 where the processor has AVX-512VL)",
    )
    args = parser.parse_args()
    evex = "avx512vl" in pathlib.Path("/proc/cpuinfo").read_text() and not args.vex_only
    kernel_set = kernel_sets.by_name(args.isa)
    with tempfile.TemporaryDirectory() as build:
        empty = {
            k: f".intel_syntax noprefix\n.text\n.globl power_mix_{k}\npower_mix_{k}:\n    ret\n"
            for k in range(1, 5)
        }
        first = str(pathlib.Path(build) / "first")
        compile_program(build, kernel_set, empty, first)
        dump = disassembly(first)
        paths = {k: hot_path(dump, f"power_loop_{k}") for k in range(1, 5)}
        timed = str(pathlib.Path(build) / "timed")
        compile_program(
            build,
            kernel_set,
            {k: mix(paths[k], f"power_mix_{k}", evex) for k in range(1, 5)},
            timed,
        )

        def position_free(path):  # the same code placed elsewhere has other addresses
            return [re.sub(r"(j[a-z]+\s+)[0-9a-f]+.*|rip\+0x[0-9a-f]+", r"\1", i) for i in path]

        relinked = disassembly(timed)
        if any(
            position_free(hot_path(relinked, f"power_loop_{k}")) != position_free(paths[k])
            for k in paths
        ):
            sys.exit("power_bound: the loops changed between the two builds")
        run = subprocess.run(
            [timed, str(args.samples)],
            capture_output=True,
            text=True,
            check=True,
            env={**os.environ, **kernel_set.environment},
        )
    result = json.loads(run.stdout)
    lanes, hertz = result["lane_count"], result["clock_hz"]
    print(
        f"kernel set {args.isa}, {lanes} lanes; clock {hertz / 1e9:.2f} GHz (from a chain of adds)"
    )
    counts = {k: count(paths[k], k * lanes) for k in paths}
    kinds = sorted({kind for c in counts.values() for kind in c})
    print("operations per element, by kind, with 1 to 4 vectors in flight:")
    for kind in kinds:
        print(f"  {kind:24}" + "".join(f"{counts[k].get(kind, 0):8.2f}" for k in paths))
    print("per element, ns (cycles), the fastest of the samples:")
    for row in result["vectors"]:
        loop, bound = row["loop_ns"], row["mix_ns"]
        print(
            f"  {row['in_flight']} in flight: power {loop:.3f} ({loop * hertz / 1e9:.1f}), its mix "
            f"{bound:.3f} ({bound * hertz / 1e9:.1f}): {bound / loop:.0%} of the mix's throughput"
        )


if __name__ == "__main__":
    main()
