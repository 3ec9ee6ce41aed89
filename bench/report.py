"""The run's tables: printed, and written as Markdown."""

REFERENCES = [
    ("baseline", "NumPy"),
    ("peer", "pygasflow"),
    ("negative", "np.negative"),
    ("power", "np.power"),
    ("against", "--against build"),
]
CONTENDERS = [("library", "ventaroxi"), *REFERENCES]


def extrapolated(row, name):
    timing = row["times"].get(name)
    return bool(timing and timing["extrapolated_from"])


def ratio_cell(row, name):
    if name not in row["ratios"]:
        return "-"
    mark = "~" if extrapolated(row, "library") or extrapolated(row, name) else ""
    return f"{mark}{row['ratios'][name]:.3g}"


def time_cell(row, name):
    timing = row["times"].get(name)
    if not timing:
        return "-"
    if timing["extrapolated_from"]:
        return f"~{timing['ns_per_element']:.3g} (from {timing['extrapolated_from']:,})"
    return f"{timing['ns_per_element']:.3g} [{timing['q1_ns']:.3g}-{timing['q3_ns']:.3g}]"


def memory_cell(row):
    memory = row["memory"].get("library")
    return "-" if memory is None else f"{memory['extra_bytes']:,}"


def agreement_cell(row, name):
    agreement = row["agreement"].get(name)
    if agreement is None:
        return "-"
    cell = f"{agreement['max_relative']:.1e}"
    if agreement["nan_mismatches"]:
        cell += f" ({agreement['nan_mismatches']} NaN mismatches)"
    return cell if agreement["agrees"] else cell + " DISAGREES"


def ratio_table(rows):
    header = ["function", "elements", "layout", "ventaroxi ns/elem"] + [
        f"/ {title}" for _, title in REFERENCES
    ]
    header += ["extra bytes", "max rel. diff NumPy", "max rel. diff pygasflow"]
    body = [
        [r["label"], f"{r['elements']:,}", r["layout"], time_cell(r, "library")]
        + [ratio_cell(r, name) for name, _ in REFERENCES]
        + [memory_cell(r), agreement_cell(r, "baseline"), agreement_cell(r, "peer")]
        for r in rows
    ]
    return header, body


def time_table(rows):
    header = ["function", "elements", "layout"] + [f"{title} ns/elem" for _, title in CONTENDERS]
    body = [
        [r["label"], f"{r['elements']:,}", r["layout"]]
        + [time_cell(r, name) for name, _ in CONTENDERS]
        for r in rows
    ]
    return header, body


def harness_table(harness):
    header = [
        "section",
        "function",
        "elements",
        "reference ns/elem",
        "kernel ns/elem",
        "reference / kernel",
        "bit-identical",
    ]
    body = []
    for h in harness["rows"]:
        reference = h.get("one_at_a_time_ns", h.get("literal_ns"))
        name = "one at a time" if h["section"] == "relation" else "literal search"
        body.append(
            [
                name,
                h["label"],
                str(h["elements"]),
                f"{reference:.4g}",
                f"{h['kernel_ns']:.4g}",
                f"{reference / h['kernel_ns']:.3g}",
                "yes" if h["identical"] else f"NO ({h['mismatches']})",
            ]
        )
    return header, body


def one_element_table(one_element):
    header = [
        "function",
        "ventaroxi ns/call",
        "np.negative ns/call",
        "ratio of medians",
        "ratio of minima",
    ]
    body = [
        [
            label,
            f"{t['library']:.0f}",
            f"{t['negative']:.0f}",
            f"{t['library'] / t['negative']:.3g}",
            f"{t['library_min'] / t['negative_min']:.3g}",
        ]
        for label, t in one_element.items()
    ]
    return header, body


def plain(header, body):
    widths = [max(len(str(c)) for c in column) for column in zip(header, *body, strict=True)]
    lines = [
        "  ".join(str(c).ljust(w) for c, w in zip(line, widths, strict=True))
        for line in [header, *body]
    ]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def markdown(header, body):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in line) + " |" for line in body]
    return "\n".join(lines)


def markdown_report(result, goals, summary_line):
    env = result["environment"]
    parts = [
        "# ventaroxi benchmark",
        f"`{result['command']}` on {env['cpu']} ({env['cores']} cores; vector flags "
        f"{' '.join(env.get('cpu_flags', [])) or 'not known'}), kernel `{env['kernel']}`, "
        f"{env['date']}, commit `{env['commit']}`. NumPy {env['numpy']} (dispatching to "
        f"{', '.join(env.get('numpy_dispatch', [])) or 'not known'}), SciPy {env['scipy']}, "
        f"pygasflow {env['pygasflow']}"
        + (f"; `--against` {env['against']}" if env.get("against") else "")
        + ". Times are medians per element with the interquartile range in "
        "brackets; ratios are ventaroxi's time over the reference's (below 1: ventaroxi is faster); "
        "`~` marks a figure extrapolated from a smaller size's per-element time.",
        "## Goals",
        "\n".join(f"- **{summary_line(g)}**" for g in goals),
        "## Ratios",
        markdown(*ratio_table(result["rows"])),
        "## Times per element",
        markdown(*time_table(result["rows"])),
        "## C++ harness: one element at a time, and the literal area-ratio search, against the kernel",
        markdown(*harness_table(result["harness"])),
        "## One-element calls",
        markdown(*one_element_table(result["one_element"])),
        "## Goal details",
        "\n".join(
            f"- goal {g.number}: {'met' if m >= 1 else 'MISSED'}: {text}"
            for g in goals
            for m, text in g.lines
        ),
        "## Checks",
        "\n".join(f"- {'ok' if c['passed'] else 'FAILED'}: {c['text']}" for c in result["checks"]),
    ]
    return "\n\n".join(parts) + "\n"
