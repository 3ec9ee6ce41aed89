#!/usr/bin/env bash
# Builds the library from this checkout and runs its test suite under CPython 3.14, inside a
# Debian unstable root file system that is made once and reused.
#   ci/sid314.sh [pytest arguments]
# VENTAROXI_SID_ROOT chooses the root file system (default /var/cache/ventaroxi/sid314).
# Everything runs in a private mount namespace, so the mounts it makes vanish with it, however
# the script ends.
set -euo pipefail
if [[ ${VENTAROXI_SID_NS:-} != 1 ]]; then
  VENTAROXI_SID_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
checkout=$(cd "$(dirname "$0")/.." && pwd)
root=${VENTAROXI_SID_ROOT:-/var/cache/ventaroxi/sid314}
packages=python3.14-dev,python3.14-dbg,python3-pip,python3-numpy,python3-pytest,python3-hypothesis,python3-mesonpy,meson,ninja-build,g++
ready=$root/.ventaroxi-ready # written last: a root without it is an unfinished bootstrap

if [[ ! -f $ready || $(<"$ready") != "$packages" ]]; then
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
  fi
  echo "sid314: bootstrapping $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
  start=$SECONDS
  debootstrap --variant=minbase --include="$packages" sid "$root" >"$root.log" 2>&1 ||
    { tail -n 30 "$root.log"; exit 1; }
  echo "$packages" >"$ready"
  echo "sid314: bootstrapped in $((SECONDS - start)) s"
else
  echo "sid314: reusing $root"
fi

# The checkout, read-only, at /src; a fresh /tmp for the virtual environment and build directory.
mkdir -p "$root/src"
mount --bind -o ro "$checkout" "$root/src"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
# shellcheck disable=SC2016 # expanded inside the chroot
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 PYTHONDONTWRITEBYTECODE=1 \
  HYPOTHESIS_STORAGE_DIRECTORY=/tmp/hypothesis /bin/sh -euc '
    python3.14 -m venv --system-site-packages --without-pip /tmp/venv
    /tmp/venv/bin/python -m pip install --no-build-isolation --no-index --no-deps -v \
      -Cbuild-dir=/tmp/build -Ccompile-args=-v /src
    /tmp/venv/bin/python -c "import sys, numpy, concurrent.interpreters; print(\"CPython\", sys.version, \"NumPy\", numpy.__version__)"
    cd /src
    /tmp/venv/bin/python -m pytest -p no:cacheprovider "$@"
  ' sh "$@"
