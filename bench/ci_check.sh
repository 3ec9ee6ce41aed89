#!/usr/bin/env bash
# The benchmark's self-checks, for CI: runs `bench.py --quick` and fails if any library
# result differs from its one-at-a-time evaluation (the C++ harness, for the kernels this
# processor runs and for the baseline kernels) or if a strided view gives other values than
# the contiguous array. The performance goals are printed, PASS or MISS, and fail nothing.
#
# Needs python3 that imports ventaroxi (installed, or PYTHONPATH=builddir) and numpy, and
# the host c++, and SciPy (the array-Newton baselines); pygasflow is optional: without it
# its column stays empty.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

status=0
python3 bench/bench.py --quick --out "$out" || status=1
if [ "$(python3 bench/harness.py --module-kernel)" != baseline ]; then
    python3 bench/bench.py --quick --harness-only --harness-isa baseline --out "$out" || status=1
fi
# The area-ratio bound's program, so that it keeps building and running as the search changes.
python3 bench/area_ratio_bound.py --elements 20000 || status=1
# One closing line for CI's log: every self-check of both runs, counted.
python3 - "$out" <<'PY' || status=1
import json, pathlib, sys
reports = sorted(pathlib.Path(sys.argv[1]).glob("*.json"))
checks = [c for r in reports for c in json.loads(r.read_text())["checks"]]
failed = sum(not c["passed"] for c in checks)
print(f"bench: {len(checks) - failed} passed, {failed} failed")
sys.exit(1 if failed or not checks else 0)
PY
exit $status
