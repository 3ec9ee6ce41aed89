#!/usr/bin/env bash
# The build where objcopy is missing (as on a system without GNU binutils' objcopy): meson
# must choose the link-order isolation of the wide kernel sets by itself, and the debug build,
# where the standard library's inline functions are out of line and the isolation matters,
# must pass its own check of it and compute in Python. (The C++ units are linked without the
# module, so the isolation does not touch them: the other builds run them.)
# Usage: tests/build_without_objcopy.sh [BUILD_DIR]   (needs meson, ninja, NumPy, c++, objdump)
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build=${1:-$work/build}
# A PATH that has every program of this one except objcopy.
mkdir "$work/bin"
IFS=: read -ra directories <<<"$PATH"
for directory in "${directories[@]}"; do
  for program in "$directory"/*; do
    name=${program##*/}
    [[ -x $program && $name != *objcopy* && ! -e $work/bin/$name ]] || continue
    ln -s "$program" "$work/bin/$name"
  done
done
PATH=$work/bin meson setup "$build" "$checkout" --buildtype=debug >"$work/setup.log" ||
  { cat "$work/setup.log"; exit 1; }
isolation=$(meson introspect --buildoptions "$build" |
  python3 -c 'import json, sys; print(next(o["value"] for o in json.load(sys.stdin) if o["name"] == "kernel_isolation"))')
check=$(meson introspect --tests "$build" |
  python3 -c 'import json, sys; print(" ".join(next((t["cmd"][2] for t in json.load(sys.stdin) if t["name"] == "isolated_kernels"), "none").split()))')
echo "kernel_isolation option: $isolation; isolated_kernels checks: $check"
[[ $check == module ]] || { echo "without objcopy, the build did not take the link-order isolation" >&2; exit 1; }
PATH=$work/bin meson compile -C "$build" >"$work/compile.log" || { cat "$work/compile.log"; exit 1; }
PATH=$work/bin meson test -C "$build" --print-errorlogs isolated_kernels
PYTHONPATH=$build python3 -c '
import numpy as np, ventaroxi as vx
x = np.linspace(1.1, 3.0, 1001)
assert np.allclose(vx.Ma_from_Po_P(vx.Po_P_from_Ma(x, 1.4), 1.4), x)
assert np.allclose(vx.Ma_from_A_Acrit(vx.A_Acrit_from_Ma(x, 1.4), 1.4, True), x)
print("the module built without objcopy computes")'
