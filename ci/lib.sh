# Helpers shared by .ci/run and the scripts of ci/ (sourced; bash). Each script sets $work, a
# scratch directory of its own.
export PIP_DISABLE_PIP_VERSION_CHECK=1

log() { printf '\n--- %s\n' "$*"; }
die() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

# pip, without the warnings of this machine's pip configuration about absent local indexes.
pip_install() { # PYTHON ARGUMENTS...
  local python=$1
  shift
  "$python" -m pip install --quiet "$@" 2> >(grep -v '^WARNING: Location .* is ignored' >&2)
}

# A virtual environment at DIR for the interpreter PYTHON (default python3), with a current pip.
new_venv() { # DIR [PYTHON]
  "${2:-python3}" -m venv "$1"
  pip_install "$1/bin/python" --upgrade pip
}

# Installs the tools NAME... at the versions ci/requirements-tools.txt pins, extras included.
tools_install() { # PYTHON NAME...
  local python=$1
  shift
  pip_install "$python" -r <(grep -E "^($(IFS='|'; echo "$*"))(\[.*\])?==" ci/requirements-tools.txt)
}

# The interpreter of a CPython minor version installed by pyenv, for example 3.12.
pyenv_python() {
  local found
  found=$(find "${PYENV_ROOT:-$HOME/.pyenv}/versions" -maxdepth 1 -name "$1.*" | sort -V | tail -n 1)
  [[ -n $found ]] || { echo "no CPython $1 under pyenv" >&2; return 1; }
  echo "$found/bin/python3"
}

# The repaired wheel that .ci/run's wheel leg leaves in $VENTAROXI_WHEELHOUSE, waiting for that
# leg if it runs beside the caller; without the variable, one is built here from the checkout.
ci_wheel() {
  if [[ -z ${VENTAROXI_WHEELHOUSE:-} ]]; then
    python3 -m pip wheel --quiet --no-deps -w "$work/wheelhouse" . >&2 &&
      echo "$work"/wheelhouse/ventaroxi-*.whl
    return
  fi
  local waited=0
  until [[ -e $VENTAROXI_WHEELHOUSE/done ]]; do
    ((waited++ < 360)) || { echo "no wheel after 30 minutes" >&2; return 1; }
    sleep 5
  done
  compgen -G "$VENTAROXI_WHEELHOUSE/ventaroxi-*manylinux*.whl" ||
    { echo "the wheel leg left no repaired wheel" >&2; return 1; }
}

# The tests that do not depend on the interpreter's or NumPy's version, or that run in a leg of
# their own, left out of the focused run: the C++ units and the platform pow (compiled code
# only), the accuracy against exact values (arithmetic only), the docs, examples and
# scale-out (the user-experience leg).
focused=(--ignore=tests/test_cpp_units.py --ignore=tests/test_platform_pow.py
  --ignore=tests/test_accuracy.py --ignore=tests/test_docs.py --ignore=tests/test_examples.py
  --ignore=tests/test_scale_out.py)

# The share of the C++ units' generated cases (VENTAROXI_UNIT_SHARE) that an unoptimised build
# runs, its special and edge values all: unoptimised, and more so instrumented, the units run
# two to nine times slower, and the release build and pytest run every case.
unoptimised_unit_share=0.25
