#!/usr/bin/env bash
# What users and contributors meet around the module, checked from a clean slate:
#   style      ruff (Python) and clang-format (C++) report what differs;
#   tidy       clang-tidy's checks on every source of src/;
#   typing     mypy --strict and pyright on a typed usage file, against the stubs of the
#              wheel (ci/wheel.sh's, or one built here) installed in a fresh virtual
#              environment, and stubtest against the module;
#   examples   the docs, figures, examples and Dask scale-out tests (streaming 10^8 elements
#              through Zarr stores), the pandas and xarray recipes, against that wheel.
# Each check is also shown to fail on a planted fault (a misformatted line, an injected bug,
# a wrong stub), so that a green run means something. Installs every tool it uses into
# its own virtual environments, at the versions pinned in ci/requirements-tools.txt and
# ci/constraints.txt.
#
# Usage: bash ci/user_experience.sh [step ...]     (default: every step, in the order above)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
# Scratch space in memory where there is some: the virtual environments hold about 1.5 GB of
# small files, which a disk takes minutes to write and delete.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
source ci/lib.sh

tools=$work/tools   # the checkers
clean=$work/clean   # the built wheel and what its users install beside it

# Runs a command that must fail because of the fault planted for it.
must_fail() { # DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@" >"$work/must_fail.log" 2>&1; then
    cat "$work/must_fail.log"
    die "the check passed although $description"
  fi
  echo "caught, as it must be: $description"
}

# Runs a command that must fail and whose output must contain every one of the patterns,
# one for each fault planted for it.
reports() { # DESCRIPTION PATTERN... -- COMMAND...
  local description=$1 patterns=() pattern missing=0
  shift
  while [[ $1 != -- ]]; do
    patterns+=("$1")
    shift
  done
  shift
  if "$@" >"$work/reports.log" 2>&1; then
    cat "$work/reports.log"
    die "$description passed although faults were planted"
  fi
  for pattern in "${patterns[@]}"; do
    if ! grep -qF -- "$pattern" "$work/reports.log"; then
      echo "not reported: $pattern"
      missing=1
    fi
  done
  if ((missing)); then
    cat "$work/reports.log"
    die "$description missed a planted fault"
  fi
  echo "caught, as it must be: $description reports all ${#patterns[@]} planted faults"
}

# Writes a copy of FILE to OUT with the text OLD replaced by NEW; fails if OLD is absent,
# so that a planted fault cannot silently be no fault at all.
plant() { # FILE OUT OLD NEW
  python3 - "$@" <<'EOF'
import pathlib, sys
source, out, old, new = sys.argv[1:]
text = pathlib.Path(source).read_text(encoding="utf-8")
if old not in text:
    sys.exit(f"cannot plant the fault: {old!r} is not in {source}")
pathlib.Path(out).parent.mkdir(parents=True, exist_ok=True)
pathlib.Path(out).write_text(text.replace(old, new, 1), encoding="utf-8")
EOF
}

# The checkers, added as the steps need them.
setup_tools() { # NAME...
  log "installing $* (ci/requirements-tools.txt)"
  [[ -x $tools/bin/python ]] || new_venv "$tools"
  tools_install "$tools/bin/python" "$@"
}

step_style() {
  setup_tools ruff clang-format
  local ruff=$tools/bin/ruff clang_format=$tools/bin/clang-format
  log "ruff $("$ruff" --version | cut -d' ' -f2): lint and layout of every Python file"
  "$ruff" check .
  "$ruff" format --check --diff .
  plant examples/nozzle.py "$work/probe/nozzle.py" "import sys" "import sys, os"
  must_fail "a file imports a module it never uses" "$ruff" check --config pyproject.toml "$work/probe/nozzle.py"
  plant examples/nozzle.py "$work/probe/nozzle.py" "GA = 1.4" "GA=1.4"
  must_fail "a line is laid out by hand" "$ruff" format --check --config pyproject.toml "$work/probe/nozzle.py"

  log "clang-format $("$clang_format" --version | grep -o '[0-9][0-9.]*' | head -1): layout of every C++ source of src/ and tests/cpp/"
  local differing=0 conforming=0 source
  while read -r source; do
    if "$clang_format" --dry-run -Werror "$source" 2>/dev/null; then
      conforming=$((conforming + 1))
      continue
    fi
    "$clang_format" "$source" | diff -u "$source" --label "$source" - --label "$source (clang-format)" || true
    differing=$((differing + 1))
  done < <(git ls-files 'src/*.cpp' 'src/*.hpp' 'src/*.h' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp')
  echo "clang-format: $conforming sources conform, $differing differ"
  ((differing == 0)) || die "$differing C++ sources differ from .clang-format (diffs above)"
  # A conforming file with one badly laid-out line.
  plant src/relations/rejected.hpp "$work/probe/rejected.hpp" \
    "inline constexpr double rejected" "inline   constexpr double  rejected"
  "$clang_format" --dry-run -Werror src/relations/rejected.hpp
  must_fail "a declaration has stray spaces" \
    "$clang_format" --dry-run -Werror --style=file:.clang-format "$work/probe/rejected.hpp"
}

step_tidy() {
  setup_tools clang-tidy meson ninja numpy
  log "clang-tidy $("$tools/bin/clang-tidy" --version | grep -o 'version [0-9.]*' | cut -d' ' -f2): .clang-tidy's checks on src/ and the C++ units"
  # The compilation database that meson writes at set-up: the same flags as the build.
  PATH=$tools/bin:$PATH meson setup "$work/tidy-build" >"$work/tidy-setup.log" || {
    cat "$work/tidy-setup.log"
    die "meson setup"
  }
  git ls-files 'src/*.cpp' 'tests/cpp/*_test.cpp' | xargs -P 2 -n 1 "$tools/bin/clang-tidy" -p "$work/tidy-build" --quiet \
    2> >(grep -v 'warnings generated' >&2)
  echo "clang-tidy: $(git ls-files 'src/*.cpp' 'tests/cpp/*_test.cpp' | wc -l) sources and the headers they include are clean"
  cat >"$work/probe/bug.cpp" <<'EOF'
#include <utility>
#include <vector>
double half(int n) { return n / 2; }
std::size_t size_after_move(std::vector<int> v)
{
    auto w = std::move(v);
    return v.size() + w.size();
}
EOF
  must_fail "a double is the result of an integer division and a vector is used after a move" \
    "$tools/bin/clang-tidy" --config-file=.clang-tidy --quiet "$work/probe/bug.cpp" -- -std=c++20
}

# The wheel (from .ci/run's wheel leg, or built here) in a fresh virtual environment.
clean_env() {
  [[ -x $clean/bin/python ]] && return
  log "the wheel in a fresh virtual environment"
  new_venv "$clean"
  pip_install "$clean/bin/python" -c ci/constraints.txt "$(ci_wheel)[test,docs,scale-out,dataframes]"
  (cd "$work" && "$clean/bin/python" - "$clean") <<'EOF'
import importlib.metadata, pathlib, sys
import numpy as np
import ventaroxi as vx

module = pathlib.Path(vx.__file__)
assert module.is_relative_to(sys.argv[1]), f"imported from {module}, not the fresh environment"
assert (module.parent / "ventaroxi.pyi").is_file()
assert vx.To_T_from_Ma(np.array([2.0]), 1.4)[0] == 1.7999999999999998
assert abs(vx.Ma_from_A_Acrit(np.array([2.0]), 1.4, True)[0] - 2.19719812165) < 1e-11
meta = importlib.metadata.metadata("ventaroxi")
assert meta["License-Expression"] == "MIT", meta["License-Expression"]
assert any(r.startswith("numpy") for r in meta.get_all("Requires-Dist")), "no NumPy dependency"
print(f"ventaroxi {meta['Version']} from {module.name}: {len(vx.__all__)} functions, license {meta['License-Expression']}")
EOF
}

step_typing() {
  setup_tools mypy pyright
  clean_env
  local typing=$work/typing
  local mypy=("$tools/bin/mypy" --strict --cache-dir "$work/mypy-cache" --python-executable "$clean/bin/python")
  local pyright=("$tools/bin/pyright" --pythonpath "$clean/bin/python")
  mkdir -p "$typing"
  cp tests/typecheck/usage.py tests/typecheck/pyrightconfig.json "$typing/"
  # Outside the repository, so that only the installed wheel's stubs can be found.
  cd "$typing"
  log "mypy --strict and pyright on tests/typecheck/usage.py, with the installed stubs"
  "${mypy[@]}" usage.py
  "${pyright[@]}" usage.py

  log "stubtest: the stubs against the module"
  pip_install "$clean/bin/python" -c "$repo/ci/constraints.txt" mypy
  "$clean/bin/python" -m mypy.stubtest ventaroxi

  log "a wrong stub must be caught, each of its faults (MYPYPATH and pyright's typings/ take precedence)"
  local planted=$typing/typings/ventaroxi.pyi
  plant "$repo/ventaroxi.pyi" "$planted" "sup: bool = False, /" "sup: bool = False"
  plant "$planted" "$planted" 'ga: float, sup: bool | None
) -> npt.NDArray[np.float64]:
    """Mach number from the area ratio' 'ga: float, sup: bool | None = None
) -> npt.NDArray[np.float64]:
    """Mach number from the area ratio'
  plant "$planted" "$planted" "def Ma_from_Posh_Po(" "def Ma_from_Posh_Po_("
  plant "$planted" "$planted" "def To_T_from_Ma(Ma: npt.NDArray[np.float64]" \
    "def To_T_from_Ma(Ma: float | npt.NDArray[np.float64]"
  reports "stubtest on the wrong stub" \
    'Ma_from_mcpTo_APo is inconsistent, stub parameter "mcpTo_APo" should be positional-only' \
    'Ma_from_A_Acrit is inconsistent, stub parameter "sup" has a default value but runtime parameter does not' \
    'Ma_from_Posh_Po is not present in stub' \
    -- env MYPYPATH="$typing/typings" "$clean/bin/python" -m mypy.stubtest --concise ventaroxi
  # The lines of usage.py at which each fault shows.
  local positional area_default posh float_accepted
  positional=$(grep -n 'vx.Ma_from_mcpTo_APo(area, ga, sup=True)' usage.py | cut -d: -f1)
  area_default=$(grep -n 'vx.Ma_from_A_Acrit(area, ga)  #' usage.py | cut -d: -f1)
  posh=$(grep -n 'vx.Ma_from_Posh_Po(vx.Posh_Po_from_Ma' usage.py | cut -d: -f1)
  float_accepted=$(grep -n 'vx.To_T_from_Ma(0.5, ga)' usage.py | cut -d: -f1)
  reports "mypy on the wrong stub" "usage.py:$positional: error: Unused" "usage.py:$area_default: error: Unused" \
    "usage.py:$posh: error: Module has no attribute \"Ma_from_Posh_Po\"" "usage.py:$float_accepted: error: Unused" \
    -- env MYPYPATH="$typing/typings" "${mypy[@]}" usage.py
  reports "pyright on the wrong stub" "usage.py:$positional:" "usage.py:$area_default:" "usage.py:$posh:" \
    "usage.py:$float_accepted:" -- "${pyright[@]}" usage.py
  cd "$repo"
}

step_examples() {
  clean_env
  log "docs, figures, examples and Dask scale-out, against the installed wheel"
  # As a user runs them; the tests below run these and the Dask example again, and check them.
  "$clean/bin/python" examples/nozzle.py
  "$clean/bin/python" examples/rig_data.py 1e6
  VENTAROXI_REQUIRE_OPTIONAL=1 "$clean/bin/python" -m pytest -p no:cacheprovider -q \
    tests/test_docs.py tests/test_examples.py tests/test_scale_out.py
}

mkdir -p "$work/probe"
steps=("$@")
((${#steps[@]})) || steps=(style tidy typing examples)
summary=()
for step in "${steps[@]}"; do
  start=$SECONDS
  "step_$step"
  summary+=("$(printf '%-10s %4d s' "$step" $((SECONDS - start)))")
done
printf '\nuser experience checks passed:\n'
printf '  %s\n' "${summary[@]}"
printf '  %-10s %4d s\n' total "$SECONDS"
