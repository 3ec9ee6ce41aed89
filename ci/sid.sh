#!/usr/bin/env bash
# Builds the library from this checkout and runs its test suite under one of Debian unstable's
# CPythons, 3.14 or 3.15, inside a Debian unstable root file system that is made once and
# reused: Debian builds its python3-numpy for both, so one root serves both interpreters.
#   ci/sid.sh [--python 3.14|3.15] [--without-proc] [--debug] [pytest arguments]
# --python chooses the interpreter (default 3.14).
# --without-proc leaves /proc unmounted in the root, as in a plain chroot.
# --debug runs CPython 3.14's debug build, python3.14d, whose sys.gettotalrefcount() lets the
# tests count references. Debian's debug interpreter imports extensions built for the release one
# (their ABIs agree since CPython 3.8, and Debian lists the release suffix among the debug
# build's extension suffixes), so the system's NumPy serves both.
# VENTAROXI_SID_ROOT chooses the root file system (default /var/cache/ventaroxi/sid).
# VENTAROXI_FIGURES, if set, names a file to which the figures the tests record are appended.
# Everything runs in a private mount namespace, so the mounts it makes vanish with it, however
# the script ends.
set -euo pipefail
if [[ ${VENTAROXI_SID_NS:-} != 1 ]]; then
  VENTAROXI_SID_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
checkout=$(cd "$(dirname "$0")/.." && pwd)
root=${VENTAROXI_SID_ROOT:-/var/cache/ventaroxi/sid}
packages=python3.14-dev,python3.14-dbg,python3.15-dev,python3-pip,python3-numpy,python3-pytest,python3-hypothesis,python3-mesonpy,meson,ninja-build,g++
ready=$root/.ventaroxi-ready # written last: a root without it is an unfinished bootstrap
version=3.14
if [[ ${1:-} == --python ]]; then
  version=${2:?--python needs a version, 3.14 or 3.15}
  shift 2
fi
case $version in
  3.14 | 3.15) python=python$version ;;
  *) echo "sid.sh: Debian unstable's CPythons here are 3.14 and 3.15, not $version" >&2; exit 2 ;;
esac
with_proc=1
if [[ ${1:-} == --without-proc ]]; then
  with_proc=0
  shift
fi
if [[ ${1:-} == --debug ]]; then
  [[ $version == 3.14 ]] || { echo "sid.sh: the debug build in the root is python3.14d" >&2; exit 2; }
  python=python3.14d
  shift
fi

if [[ ! -f $ready || $(<"$ready") != "$packages" ]]; then
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
  fi
  echo "sid: bootstrapping $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
  start=$SECONDS
  debootstrap --variant=minbase --include="$packages" sid "$root" >"$root.log" 2>&1 ||
    { tail -n 30 "$root.log"; exit 1; }
  echo "$packages" >"$ready"
  echo "sid: bootstrapped in $((SECONDS - start)) s"
else
  echo "sid: reusing $root"
fi

# The checkout, read-only, at /src; a fresh /tmp for the virtual environment and build directory.
mkdir -p "$root/src"
mount --bind -o ro "$checkout" "$root/src"
((with_proc == 0)) || mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
# The tests' workload sizes pass in; their figures go to /tmp, and are copied out at the end.
passed=(PYTHON="$python")
while read -r name; do
  passed+=("$name=${!name}")
done < <(compgen -e | grep -E '^VENTAROXI_' | grep -vE '^VENTAROXI_(SID_NS|SID_ROOT|FIGURES)$' || true)
[[ -z ${VENTAROXI_FIGURES:-} ]] || passed+=(VENTAROXI_FIGURES=/tmp/figures)
status=0
# shellcheck disable=SC2016 # expanded inside the chroot
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 PYTHONDONTWRITEBYTECODE=1 \
  HYPOTHESIS_STORAGE_DIRECTORY=/tmp/hypothesis "${passed[@]}" /bin/sh -euc '
    "$PYTHON" -m venv --system-site-packages --without-pip /tmp/venv
    /tmp/venv/bin/python -m pip install --no-build-isolation --no-index --no-deps -v \
      -Cbuild-dir=/tmp/build -Ccompile-args=-v /src
    /tmp/venv/bin/python -c "import sys, numpy, concurrent.interpreters; print(\"CPython\", sys.version, \"NumPy\", numpy.__version__)"
    cd /src
    /tmp/venv/bin/python -m pytest -p no:cacheprovider "$@"
  ' sh "$@" || status=$?
if [[ -n ${VENTAROXI_FIGURES:-} && -f $root/tmp/figures ]]; then
  cat "$root/tmp/figures" >>"$VENTAROXI_FIGURES"
fi
exit "$status"
