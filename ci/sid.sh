#!/usr/bin/env bash
# Builds the library from this checkout and runs tests under one of Debian unstable's
# CPythons, 3.14 or 3.15, inside a Debian unstable root file system that is made once and
# reused: Debian builds its python3-numpy for both, so one root serves both interpreters.
#   ci/sid.sh [--root-only] [--python 3.14|3.15|3.14d] [--without-proc] [--clang]
#             [--setup-arg ARGUMENT] [--meson-test] [pytest arguments]
# --root-only makes or completes the root, and builds and tests nothing.
# --python chooses the interpreter (default 3.14); 3.14d is CPython 3.14's debug build, whose
#   sys.gettotalrefcount() lets the tests count references. Debian's debug interpreter imports
#   extensions built for the release one (their ABIs agree since CPython 3.8, and Debian lists
#   the release suffix among the debug build's extension suffixes), so the system's NumPy
#   serves both.
# --without-proc leaves /proc unmounted in the root, as in a plain chroot.
# --clang builds with clang++ and libc++ instead of g++ and libstdc++.
# --setup-arg passes one argument to meson's set-up (for example -Dkernel_isolation=link-order).
# --meson-test runs the build's own tests (the C++ units) before pytest.
# VENTAROXI_SID_ROOT chooses the root file system (default /var/cache/ventaroxi/sid).
# VENTAROXI_SID_OUT, if set, is a directory mounted at /out: the builds live there, one per
#   interpreter and compiler, and are reused by later calls; pytest can write reports there.
# VENTAROXI_FIGURES, if set, names a file to which the figures the tests record are appended.
# Everything runs in a private mount namespace, so the mounts it makes vanish with it, however
# the script ends.
set -euo pipefail
if [[ ${VENTAROXI_SID_NS:-} != 1 ]]; then
  VENTAROXI_SID_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
checkout=$(cd "$(dirname "$0")/.." && pwd)
root=${VENTAROXI_SID_ROOT:-/var/cache/ventaroxi/sid}
packages=python3.14-dev,python3.14-dbg,python3.15-dev,python3-pip,python3-numpy,python3-pytest,python3-hypothesis,python3-mesonpy,meson,ninja-build,g++,clang,libc++-dev,libc++abi-dev
ready=$root/.ventaroxi-ready # written last: a root without it is an unfinished bootstrap
# The mirror's snapshot may be older than its Release file's validity.
apt_options=(-o Acquire::Check-Valid-Until=false)
python=python3.14 with_proc=1 compiler=gcc meson_test=0 root_only=0 setup_arg=
while [[ ${1:-} == --* ]]; do
  case $1 in
    --python) python=python${2:?--python needs 3.14, 3.15 or 3.14d}; shift ;;
    --without-proc) with_proc=0 ;;
    --clang) compiler=clang ;;
    --setup-arg) setup_arg=${2:?--setup-arg needs an argument}; shift ;;
    --meson-test) meson_test=1 ;;
    --root-only) root_only=1 ;;
    *) break ;;
  esac
  shift
done
case $python in
  python3.14 | python3.15 | python3.14d) ;;
  *) echo "sid.sh: Debian unstable's CPythons here are 3.14, 3.15 and 3.14d, not ${python#python}" >&2; exit 2 ;;
esac

if [[ ! -f $ready ]]; then
  command -v mmdebstrap >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null; }
  echo "sid: making $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$(dirname "$root")" # a fresh machine has no cache folder yet
  start=$SECONDS
  mmdebstrap --variant=minbase --aptopt='Acquire::Check-Valid-Until "false"' --include="$packages" \
    sid "$root" >"$root.log" 2>&1 || { tail -n 30 "$root.log"; exit 1; }
  echo "$packages" >"$ready"
  echo "sid: made in $((SECONDS - start)) s"
fi
# Packages added to the list since the root was made are installed into it.
mapfile -t added < <(comm -13 <(tr , '\n' <"$ready" | sort) <(tr , '\n' <<<"$packages" | sort))
if ((${#added[@]})); then
  echo "sid: installing ${added[*]} into $root"
  mount -t proc proc "$root/proc"
  chroot "$root" apt-get "${apt_options[@]}" update -qq >"$root.log" 2>&1 &&
    chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -qq \
      "${added[@]}" >>"$root.log" 2>&1 || { tail -n 30 "$root.log"; exit 1; }
  chroot "$root" apt-get clean
  umount "$root/proc"
  echo "$packages" >"$ready"
fi
((root_only == 0)) || exit 0

# The checkout, read-only, at /src; a fresh /tmp for the virtual environment; /out for builds.
mkdir -p "$root/src" "$root/out"
mount --bind -o ro "$checkout" "$root/src"
((with_proc == 0)) || mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
if [[ -n ${VENTAROXI_SID_OUT:-} ]]; then
  mkdir -p "$VENTAROXI_SID_OUT"
  mount --bind "$VENTAROXI_SID_OUT" "$root/out"
else
  mount -t tmpfs tmpfs "$root/out"
fi
# The tests' workload sizes pass in; their figures go to /tmp, and are copied out at the end.
passed=(PYTHON="$python" BUILD="/out/build-$python-$compiler" MESON_TEST=$meson_test SETUP_ARG="$setup_arg")
if [[ $compiler == clang ]]; then
  passed+=(CXX=clang++ CXXFLAGS=-stdlib=libc++ LDFLAGS=-stdlib=libc++)
fi
while read -r name; do
  passed+=("$name=${!name}")
done < <(compgen -e | grep -E '^VENTAROXI_' | grep -vE '^VENTAROXI_(SID_NS|SID_ROOT|SID_OUT|FIGURES)$' || true)
[[ -z ${VENTAROXI_FIGURES:-} ]] || passed+=(VENTAROXI_FIGURES=/tmp/figures)
status=0
# shellcheck disable=SC2016 # expanded inside the chroot
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 PYTHONDONTWRITEBYTECODE=1 \
  HYPOTHESIS_STORAGE_DIRECTORY=/tmp/hypothesis "${passed[@]}" /bin/sh -euc '
    "$PYTHON" -m venv --system-site-packages --without-pip /tmp/venv
    /tmp/venv/bin/python -m pip install --no-build-isolation --no-index --no-deps -q \
      -Cbuild-dir="$BUILD" ${SETUP_ARG:+"-Csetup-args=$SETUP_ARG"} /src
    /tmp/venv/bin/python -c "import sys, numpy, ventaroxi; print(\"CPython\", sys.version, \"NumPy\", numpy.__version__, ventaroxi.__file__)"
    [ "$MESON_TEST" = 0 ] || meson test -C "$BUILD" --print-errorlogs
    cd /src
    /tmp/venv/bin/python -m pytest -p no:cacheprovider "$@"
  ' sh "$@" || status=$?
if [[ -n ${VENTAROXI_FIGURES:-} && -f $root/tmp/figures ]]; then
  cat "$root/tmp/figures" >>"$VENTAROXI_FIGURES"
fi
exit "$status"
