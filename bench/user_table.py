"""The README's performance table, from a full run's bench/results/bench.json: per function,
nanoseconds per element at 10^6 contiguous elements, and how many times faster than the NumPy
expression of the formula (the closed forms), SciPy's array Newton (the iterative inverses)
and pygasflow, where it has the quantity.

Run:  python3 bench/user_table.py [bench/results/bench.json]
"""

import json
import pathlib
import sys

SIZE = 1_000_000
# Their NumPy baseline is scipy.optimize.newton over the whole array (bench/baselines.py).
ITERATIVE = ("Ma_from_F_mcpTo", "Ma_from_mcpTo_APo", "Ma_from_mcpTo_AP", "Ma_from_Mash")
ITERATIVE += ("Ma_from_Posh_Po", "Ma_from_A_Acrit")


def factor(row, contender):
    ratio = row["ratios"].get(contender)
    return "-" if ratio is None else f"{1 / ratio:.3g}x"


def table(results):
    lines = [
        "| function | ns per element | vs NumPy expression | vs SciPy array Newton | vs pygasflow |",
        "|---|---|---|---|---|",
    ]
    for row in results["rows"]:
        if row["elements"] != SIZE or row["layout"] != "contiguous":
            continue
        iterative = row["function"] in ITERATIVE
        baseline = factor(row, "baseline")
        ns = row["times"]["library"]["ns_per_element"]
        lines.append(
            f"| `{row['label']}` | {ns:.3g} | {'-' if iterative else baseline} | "
            f"{baseline if iterative else '-'} | {factor(row, 'peer')} |"
        )
    return "\n".join(lines)


def heading(results):
    env = results["environment"]
    flags = env.get("cpu_flags")
    vectors = (
        "its vector flags not recorded"
        if flags is None
        else "with AVX-512"
        if "avx512f" in flags
        else "AVX2 without AVX-512"
    )
    dispatch = env.get("numpy_dispatch")
    numpy = f"NumPy {env['numpy']}" + (f" (dispatching {' '.join(dispatch)})" if dispatch else "")
    return (
        f"`{results['command']}` at commit `{env['commit']}`, {env['date'][:10]}: {env['cpu']} "
        f"({vectors}), {env['cores']} cores, `{env['kernel']}` kernels first; CPython "
        f"{env['python']}, {numpy}, SciPy {env['scipy']}, pygasflow {env['pygasflow']}."
    )


if __name__ == "__main__":
    path = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "bench/results/bench.json")
    results = json.loads(path.read_text(encoding="utf-8"))
    print(heading(results))
    print()
    print(table(results))
