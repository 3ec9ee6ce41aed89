"""CI's verdicts, read from the machine-readable results the tools write rather than from
their logs. Each subcommand prints what it found and exits non-zero when a check fails.

  check.py junit FILE [--passed REGEX ...]
      pytest's JUnit XML: some test ran, none failed or errored, and for each REGEX some
      test whose id ("file::name[...]") matches it passed (was not skipped).
  check.py strict BUILD_DIR COMPILER MAJOR [FLAG ...]
      meson's record of a build: its C++ compiler is COMPILER (gcc, clang) at major version
      MAJOR (or any version), and every compile command holds -Wall -Wextra -Wpedantic -Werror and each FLAG.
  check.py kernels BUILD_DIR
      `meson test` of a build: which kernel sets' C++ units ran and which were skipped; fails
      when a set was skipped although /proc/cpuinfo shows the instructions it needs.
  check.py figures FILE RUN ...
      the figures the tests recorded ("name value" lines) against the bounds of each RUN.
"""

import json
import pathlib
import re
import shlex
import sys
import xml.etree.ElementTree as ET

WARNINGS = ("-Wall", "-Wextra", "-Wpedantic", "-Werror")

# The kernel sets and the processor features each needs (__builtin_cpu_supports names, which
# /proc/cpuinfo uses too): the build's table.
KERNEL_SETS = pathlib.Path(__file__).resolve().parent.parent / "src" / "kernel_sets.txt"

# name, comparison, bound, description and, for a figure of a newer test, its module (the
# bound holds where tests/ has it); lower bounds hold for the least value recorded, upper
# bounds for the sum of all values recorded.
BOUNDS = {
    "full": [
        ("fuzz_examples", ">=", 20000, "fuzz examples run"),
        ("fuzz_mismatches", "==", 0, "fuzz mismatches"),
        ("references_leaked", "==", 0, "references leaked"),
        ("thread_mismatches", "==", 0, "thread mismatches"),
        ("thread_calls", ">", 0, "calls made from threads"),
        ("hostile_calls", ">=", 40000, "hostile calls tried"),
        ("hostile_thread_calls", ">", 0, "calls while a thread changed the array"),
        ("hostile_crashes", "==", 0, "hostile children that crashed"),
        ("hostile_mismatches", "==", 0, "hostile calls against the rules"),
        ("pow_differing_unmasked", "==", 0, "results unlike the process pow's, unmasked"),
        ("pow_differing_no_FMA", "==", 0, "results unlike the process pow's, FMA masked"),
        ("pow_differing_no_AVX2", "==", 0, "results unlike the process pow's, AVX2 masked"),
        ("pow_differing_no_AVX2_no_FMA", "==", 0, "results unlike the process pow's, both masked"),
        ("pow_differing_perturbed", "==", 0, "results unlike a preloaded pow no set reproduces"),
        (
            "interrupt_calls",
            ">=",
            2000,
            "calls interrupted at random",
            "test_interrupts_and_faults",
        ),
        (
            "interrupt_wrong_outcomes",
            "==",
            0,
            "interrupted calls with another outcome",
            "test_interrupts_and_faults",
        ),
        (
            "nomemory_refused_calls",
            ">",
            0,
            "refused calls swept for failed allocations",
            "test_interrupts_and_faults",
        ),
        (
            "nomemory_wrong_outcomes",
            "==",
            0,
            "allocation failures with another outcome",
            "test_interrupts_and_faults",
        ),
    ],
    "sanitizers": [("sanitizer_errors", "==", 0, "sanitizer errors")],
    "valgrind": [("valgrind_errors", "==", 0, "valgrind errors")],
    "debug": [("debug_references_leaked", "==", 0, "references leaked under the debug build")],
}


def fail(message):
    print(f"FAILED: {message}", file=sys.stderr)
    return 1


def junit(path, *options):
    required = [
        re.compile(p)
        for flag, p in zip(options[::2], options[1::2], strict=True)
        if flag == "--passed"
    ]
    outcomes = {}
    for case in ET.parse(path).iter("testcase"):
        module = case.get("classname", "").replace(".", "/")
        test_id = f"{module}.py::{case.get('name')}"
        kinds = {child.tag for child in case}
        outcomes[test_id] = (
            "failed"
            if kinds & {"failure", "error"}
            else "skipped"
            if "skipped" in kinds
            else "passed"
        )
    counts = {k: sum(v == k for v in outcomes.values()) for k in ("passed", "failed", "skipped")}
    print(f"{path}: " + ", ".join(f"{n} {k}" for k, n in counts.items()))
    status = 0
    for test_id, outcome in outcomes.items():
        if outcome == "failed":
            status = fail(f"{test_id} failed")
    if counts["passed"] == 0:
        status = fail("no test passed")
    for pattern in required:
        passed = [t for t, o in outcomes.items() if o == "passed" and pattern.search(t)]
        if passed:
            print(
                f"passed, as required: {passed[0]}"
                + (f" and {len(passed) - 1} more" if passed[1:] else "")
            )
        else:
            status = fail(f"no test matching {pattern.pattern!r} passed")
    return status


def strict(build, compiler, major, *flags):
    info = pathlib.Path(build, "meson-info")
    cpp = json.loads((info / "intro-compilers.json").read_text())["host"]["cpp"]
    print(f"C++ compiler: {cpp['full_version']}")
    status = 0
    if cpp["id"] != compiler or major not in ("any", cpp["version"].split(".")[0]):
        status = fail(f"the build used {cpp['id']} {cpp['version']}, not {compiler} {major}")
    commands = json.loads(pathlib.Path(build, "compile_commands.json").read_text())
    lax = []
    for command in commands:
        words = set(shlex.split(command["command"]))
        missing = [f for f in (*WARNINGS, *flags) if f not in words]
        if missing:
            lax.append(f"{command['file']}: no {' '.join(missing)}")
    print(f"{len(commands) - len(lax)} of {len(commands)} sources compiled with", *WARNINGS, *flags)
    for line in lax:
        status = fail(line)
    return status if commands else fail("no compile commands")


def processor_flags():
    try:
        text = pathlib.Path("/proc/cpuinfo").read_text()
    except OSError:
        return None
    line = next((ln for ln in text.splitlines() if ln.startswith("flags")), "")
    return set(line.partition(":")[2].split())


def kernel_sets():
    """name -> features, from the table's rows ("name | lanes | ... | features | tunables")."""
    if not KERNEL_SETS.exists():
        return {}
    rows = [
        ln.split("|") for ln in KERNEL_SETS.read_text().splitlines() if ln.strip() and ln[0] != "#"
    ]
    return {row[0].strip(): set(row[6].split()) for row in rows}


def kernels(build):
    """Which kernel sets' C++ units ran and which were skipped; a set is checked against what
    /proc/cpuinfo says the processor has, independently of the build's own processor check."""
    sets = kernel_sets()
    info = pathlib.Path(build, "meson-info")
    suites = {t["name"]: t["suite"] for t in json.loads((info / "intro-tests.json").read_text())}
    log = pathlib.Path(build, "meson-logs", "testlog.json")
    results = [json.loads(line) for line in log.read_text().splitlines() if line.strip()]
    by_set = {}
    for result in results:
        name = result["name"].split(" / ")[-1].split(":")[-1].strip()
        named = [s.split(":")[-1] for s in suites.get(name, []) if s.split(":")[-1] in sets] or [
            "(not per set)"
        ]
        by_set.setdefault(named[0], []).append((name, result))
    flags = processor_flags()
    status = 0 if results else fail("no test in the test log")
    for kernel_set, ran in sorted(by_set.items()):
        outcomes = [r["result"] for _, r in ran]
        names = " ".join(name for name, _ in ran)
        needs = sets.get(kernel_set, set())
        if outcomes.count("SKIP") == len(outcomes):
            reason = (ran[0][1].get("stdout") or "").strip().splitlines()[-1:] or [
                "no reason given"
            ]
            print(
                f"kernel set {kernel_set}: SKIPPED, the processor lacks it ({reason[0]}): {names}"
            )
            if flags is not None and needs <= flags:
                status = fail(
                    f"{kernel_set} skipped although /proc/cpuinfo lists {' '.join(sorted(needs)) or 'all it needs'}"
                )
        else:
            print(
                f"kernel set {kernel_set}: ran natively, {outcomes.count('OK')} of {len(ran)} OK: {names}"
            )
            if outcomes.count("OK") != len(outcomes):
                status = fail(f"kernel set {kernel_set}: {' '.join(outcomes)}")
            if flags is not None and not needs <= flags:
                status = fail(
                    f"{kernel_set} ran although /proc/cpuinfo lacks {' '.join(sorted(needs - flags))}"
                )
    return status


def figures(path, *runs):
    recorded = {}
    for line in pathlib.Path(path).read_text().splitlines():
        name, value = line.split()
        recorded.setdefault(name, []).append(float(value))
    status = 0
    tests = pathlib.Path(__file__).resolve().parent.parent / "tests"
    for name, operator, bound, description, *module in (b for run in runs for b in BOUNDS[run]):
        if module and not (tests / f"{module[0]}.py").exists():
            continue
        values = recorded.get(name)
        if not values:
            status = fail(f"{description}: missing (bound {operator} {bound})")
            continue
        value = min(values) if operator.startswith(">") else sum(values)
        ok = {">=": value >= bound, ">": value > bound, "==": value == bound}[operator]
        print(f"{description}: {value:g} (bound {operator} {bound}) {'OK' if ok else 'FAIL'}")
        status = status or (0 if ok else 1)
    return status


if __name__ == "__main__":
    command, *arguments = sys.argv[1:]
    sys.exit(
        {"junit": junit, "strict": strict, "kernels": kernels, "figures": figures}[command](
            *arguments
        )
    )
