"""The performance goals, each a ratio read from one run's measurements."""

from dataclasses import dataclass, field

from cases import AREA, NEWTON, NO_POW, POW

# Goal 6: what a call may trace beyond its result (array object and alignment padding).
MEMORY_ALLOWANCE = 64 * 1024
NAN = float("nan")


@dataclass
class Goal:
    number: int
    title: str
    lines: list = field(default_factory=list)  # (margin, text) per function and figure

    def add(self, margin, text):
        """`margin` is the figure over its bound, oriented so that 1 or more meets the goal;
        NaN where the figure could not be measured."""
        self.lines.append((margin, text))

    def missed(self):
        return [(m, t) for m, t in self.lines if m < 1]

    def unmeasured(self):
        return [(m, t) for m, t in self.lines if m != m]

    @property
    def status(self):
        if self.missed():
            return "MISS"
        return "INCOMPLETE" if self.unmeasured() or not self.lines else "PASS"

    def worst(self):
        worst = self.missed() or self.unmeasured() or self.lines
        return min(worst)[1] if worst else "nothing measured"

    def as_dict(self):
        return {
            "goal": self.number,
            "title": self.title,
            "status": self.status,
            "worst": self.worst(),
            "lines": [
                {"met": margin >= 1, "margin": margin, "text": text} for margin, text in self.lines
            ],
        }


def fmt(x):
    return "n/a" if x != x else f"{x:.3g}"


def extrapolation_note(row, *names):
    notes = [
        f"{n} extrapolated from {row['times'][n]['extrapolated_from']:,} elements"
        for n in names
        if n in row["times"] and row["times"][n]["extrapolated_from"]
    ]
    return f" ({'; '.join(notes)})" if notes else ""


def ratio_of(row, reference):
    """Library time over the reference's; NaN where the reference was not measured."""
    return row["ratios"].get(reference, NAN)


def times_of(rows, label, elements, layout):
    """The library's time per element for `label` at that size and layout; NaN if not run."""
    return next(
        (
            r["times"]["library"]["ns_per_element"]
            for r in rows
            if (r["label"], r["elements"], r["layout"]) == (label, elements, layout)
        ),
        NAN,
    )


def at_goal_sizes(rows, group, goal_sizes):
    return [
        r
        for r in rows
        if r["goal"] == group and r["layout"] == "contiguous" and r["elements"] in goal_sizes
    ]


def evaluate(rows, harness, one_element, goal_sizes):
    goals = [
        Goal(1, "relations without pow: at most 1.3x the memory floor (np.negative)"),
        Goal(2, "closed forms with pow: at least 2.5x faster than NumPy, within 1.5x of np.power"),
        Goal(
            3,
            "Ma_from_A_Acrit: >= 500x the literal search (bit-identical), <= 20x A_Acrit_from_Ma, "
            ">= 8x scipy array Newton, >= 100x pygasflow, one-element call <= 3x np.negative",
        ),
        Goal(4, "Newton inverses: >= 3x one-at-a-time (same bits), >= 10x scipy array Newton"),
        Goal(5, "one-element call: no more than np.negative on one element"),
        Goal(6, "peak extra memory: the result alone (extra <= 64 KiB)"),
        Goal(
            7,
            "Newton inverses: >= 1.6x faster than the --against build, "
            "Ma_from_Mash <= 30x Mash_from_Ma per element",
        ),
    ]
    g1, g2, g3, g4, g5, g6, g7 = goals
    for r in at_goal_sizes(rows, NO_POW, goal_sizes):
        ratio = ratio_of(r, "negative")
        g1.add(
            1.3 / ratio,
            f"{r['label']} at {r['elements']:,}: {fmt(ratio)}x floor"
            + extrapolation_note(r, "library", "negative"),
        )
    for r in at_goal_sizes(rows, POW, goal_sizes):
        speedup, floor = 1 / ratio_of(r, "baseline"), ratio_of(r, "power")
        g2.add(
            min(speedup / 2.5, 1.5 / floor),
            f"{r['label']} at {r['elements']:,}: {fmt(speedup)}x faster "
            f"than NumPy, {fmt(floor)}x np.power"
            + extrapolation_note(r, "library", "baseline", "power"),
        )
    for h in harness["rows"]:
        if h["section"] == "area_search":
            speedup = h["literal_ns"] / h["kernel_ns"]
            g3.add(
                speedup / 500 if h["identical"] else 0,
                f"{h['label']}: {fmt(speedup)}x the literal search on "
                f"{h['elements']} targets, {'bit-identical' if h['identical'] else 'DIFFERENT BITS'}",
            )
    for r in at_goal_sizes(rows, AREA, goal_sizes):
        over_forward = r["times"]["library"]["ns_per_element"] / times_of(
            rows, "A_Acrit_from_Ma", r["elements"], r["layout"]
        )
        g3.add(
            20 / over_forward,
            f"{r['label']} at {r['elements']:,}: {fmt(over_forward)}x A_Acrit_from_Ma"
            + extrapolation_note(r, "library"),
        )
        over_scipy = 1 / ratio_of(r, "baseline")
        g3.add(
            over_scipy / 8,
            f"{r['label']} at {r['elements']:,}: {fmt(over_scipy)}x faster than scipy Newton"
            + extrapolation_note(r, "library", "baseline"),
        )
        speedup = 1 / ratio_of(r, "peer")
        g3.add(
            speedup / 100,
            f"{r['label']} at {r['elements']:,}: {fmt(speedup)}x faster than pygasflow"
            + extrapolation_note(r, "library", "peer"),
        )
    newton_labels = {r["label"] for r in rows if r["goal"] == NEWTON}
    for h in harness["rows"]:
        if h["section"] == "relation" and h["label"] in newton_labels:
            speedup = h["one_at_a_time_ns"] / h["kernel_ns"]
            g4.add(
                speedup / 3 if h["identical"] else 0,
                f"{h['label']}: {fmt(speedup)}x one at a time, "
                f"{'bit-identical' if h['identical'] else 'DIFFERENT BITS'}",
            )
    for r in at_goal_sizes(rows, NEWTON, goal_sizes):
        speedup = 1 / ratio_of(r, "baseline")
        g4.add(
            speedup / 10,
            f"{r['label']} at {r['elements']:,}: {fmt(speedup)}x faster than scipy Newton"
            + extrapolation_note(r, "library", "baseline"),
        )
    for label in ("Ma_from_A_Acrit[sub]", "Ma_from_A_Acrit[sup]"):
        times = one_element.get(label)
        ratio = times["library"] / times["negative"] if times else NAN
        g3.add(3 / ratio, f"{label}: one-element call {fmt(ratio)}x np.negative")
    for r in at_goal_sizes(rows, NEWTON, goal_sizes):
        speedup = 1 / ratio_of(r, "against")
        g7.add(
            speedup / 1.6,
            f"{r['label']} at {r['elements']:,}: {fmt(speedup)}x faster than the --against build"
            + extrapolation_note(r, "library", "against"),
        )
    for r in at_goal_sizes(rows, NEWTON, goal_sizes):
        if r["label"] == "Ma_from_Mash":
            forward = times_of(rows, "Mash_from_Ma", r["elements"], r["layout"])
            over = r["times"]["library"]["ns_per_element"] / forward
            g7.add(30 / over, f"Ma_from_Mash at {r['elements']:,}: {fmt(over)}x Mash_from_Ma")
    for label, times in one_element.items():
        ratio = times["library"] / times["negative"]
        g5.add(
            1 / ratio,
            f"{label}: {times['library']:.0f} ns per call, {fmt(ratio)}x np.negative "
            f"({times['negative']:.0f} ns)",
        )
    for r in rows:
        if r["layout"] == "contiguous" and r["elements"] in goal_sizes:
            memory = r["memory"].get("library")
            if memory is None:
                g6.add(NAN, f"{r['label']} at {r['elements']:,}: not measured (call too long)")
            else:
                g6.add(
                    MEMORY_ALLOWANCE / max(memory["extra_bytes"], 1),
                    f"{r['label']} at {r['elements']:,}: "
                    f"{memory['extra_bytes']:,} bytes beyond a {memory['result_bytes']:,}-byte result",
                )
    return goals


def summary_line(goal):
    return f"GOAL {goal.number} {goal.status}: {goal.title} -- worst: {goal.worst()}"
