"""The kernel sets of src/kernel_sets.txt as the tests and the benchmark build them: the rows
of this machine's architecture, the compiler arguments and environment of each, whether this
processor runs a set (asked by the check the module makes, built once), and the builds that
need the list of offered sets (the header meson writes, written here from the same
template)."""

import dataclasses
import functools
import pathlib
import platform
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
RELATIONS = ROOT / "src" / "relations"
UNIT_SOURCES = ROOT / "tests" / "cpp"
COLUMNS = ("name", "lanes", "power", "role", "cpu", "flags", "features", "tunables")


@dataclasses.dataclass(frozen=True)
class KernelSet:
    name: str
    lanes: int
    power: str  # "lanes" or "platform"
    role: str  # "dispatch", "fallback" or "test"
    cpu: str  # "x86_64" or "any"
    flags: tuple[str, ...]
    features: tuple[str, ...]
    tunables: str

    @property
    def arguments(self):
        """The compiler arguments that make a compilation this set's, as meson.build gives."""
        per_element = ["-DVENTAROXI_POW_PER_ELEMENT"] if self.power == "platform" else []
        return [
            *self.flags,
            f"-DVENTAROXI_ISA={self.name}",
            f"-DVENTAROXI_LANE_COUNT={self.lanes}",
            *per_element,
        ]

    @property
    def environment(self):
        return {"GLIBC_TUNABLES": self.tunables} if self.tunables else {}


def machine():
    return {"AMD64": "x86_64", "arm64": "aarch64"}.get(platform.machine(), platform.machine())


@functools.cache
def every_kernel_set():
    """The rows of every architecture, in the table's order."""
    rows = []
    for line in (ROOT / "src" / "kernel_sets.txt").read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        cells = dict(zip(COLUMNS, (cell.strip() for cell in line.split("|")), strict=True))
        words = {column: tuple(cells[column].split()) for column in ("flags", "features")}
        rows.append(KernelSet(**cells | words | {"lanes": int(cells["lanes"])}))
    return rows


def kernel_sets():
    """The rows for this machine's architecture, in the table's order."""
    return [row for row in every_kernel_set() if row.cpu in ("any", machine())]


def by_name(name):
    return next(s for s in kernel_sets() if s.name == name)


def offered():
    return [s for s in kernel_sets() if s.role == "dispatch"]


def compile_flags(optimisation):
    """The flags meson builds every source with (src/relations/compile_flags.txt), an
    optimisation level, and where the units find the relations' headers."""
    flags = (RELATIONS / "compile_flags.txt").read_text(encoding="ascii").split()
    return [*flags, optimisation, f"-I{RELATIONS}"]


def compile(arguments, what):
    build = subprocess.run(["c++", *arguments], capture_output=True, text=True)
    assert build.returncode == 0, f"building {what}:\n{build.stderr}"


_scratch = tempfile.TemporaryDirectory(prefix="ventaroxi-kernel-sets-")


@functools.cache
def runner():
    """tests/cpp/runs_kernel_set, built for the baseline instructions."""
    binary = pathlib.Path(_scratch.name, "runs_kernel_set")
    source = UNIT_SOURCES / "runs_kernel_set.cpp"
    compile([*compile_flags("-O1"), str(source), "-o", str(binary)], "the processor check")
    return binary


def runs(kernel_set):
    """Whether this processor (and its operating system) runs the set."""
    if not kernel_set.features:
        return True
    check = subprocess.run([str(runner()), " ".join(kernel_set.features)], capture_output=True)
    assert check.returncode in (0, 77), check.stdout + check.stderr
    return check.returncode == 0


def write_header(directory):
    """kernel_sets.hpp, as meson.build writes it, into `directory`."""
    template = (ROOT / "src" / "module" / "kernel_sets.hpp.in").read_text(encoding="ascii")
    fallback = next(s for s in kernel_sets() if s.role == "fallback")
    offered_sets = " ".join(f'X({s.name}, "{" ".join(s.features)}")' for s in offered())
    names = ", ".join(f'"{s.name}"' for s in every_kernel_set())
    header = template.replace("@OFFERED@", offered_sets).replace("@FALLBACK@", fallback.name)
    header = header.replace("@NAMES@", names)
    (pathlib.Path(directory) / "kernel_sets.hpp").write_text(header, encoding="ascii")


def power_choice_test(directory, optimisation, extra=()):
    """tests/cpp/power_choice_test, linked with the power function of every offered set and
    of both variants at baseline instructions, and with `extra` objects and arguments."""
    directory = pathlib.Path(directory)
    write_header(directory)
    variants = {
        "test_fused": ["-DVENTAROXI_ISA=test_fused", "-DVENTAROXI_POW_FUSED=1"],
        "test_unfused": ["-DVENTAROXI_ISA=test_unfused", "-DVENTAROXI_POW_FUSED=0"],
    } | {s.name: s.arguments for s in offered()}
    objects = []
    for name, arguments in variants.items():
        obj = directory / f"power_candidate_{name}.o"
        source = RELATIONS / "power_candidate.cpp"
        compile([*compile_flags(optimisation), *arguments, "-c", str(source), "-o", str(obj)], obj)
        objects.append(str(obj))
    binary = directory / "power_choice_test"
    sources = [UNIT_SOURCES / "power_choice_test.cpp", *(RELATIONS / s for s in POWER_CHOICE)]
    flags = [*compile_flags(optimisation), f"-I{directory}"]
    compile([*flags, *map(str, sources), *objects, *extra, "-o", str(binary)], binary)
    return binary


POWER_CHOICE = ("power_choice.cpp", "power_tables.cpp")
