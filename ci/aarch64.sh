#!/usr/bin/env bash
# Builds the library for 64-bit Arm (aarch64) and tests it there: in a Debian unstable arm64
# root file system that runs on this x86-64 machine under qemu's user-mode emulation, made
# once and reused, and made again when it is missing or its package list changes.
#   ci/aarch64.sh [pytest arguments]
# The module is cross-compiled by Debian's aarch64 g++ with meson.build unchanged, against the
# root's CPython 3.14 and NumPy headers (g++ itself under emulation would take some ten
# minutes); everything that runs, runs in the root, on its C library: the C++ unit tests of the
# relations (`meson test`, at the share VENTAROXI_UNIT_SHARE of their generated cases, default
# 0.05: emulated code runs about a hundred times slower) and, without arguments, the part of
# the suite that checks every function's values, every layout class and the argument messages
# once. It fails when emulation is unavailable. Emulation makes no performance figure
# meaningful, so none is taken here.
# VENTAROXI_ARM64_ROOT chooses the root file system (default /var/cache/ventaroxi/arm64).
# Everything runs in a private mount namespace, so the mounts it makes vanish with it.
set -euo pipefail
if [[ ${VENTAROXI_ARM64_NS:-} != 1 ]]; then
  VENTAROXI_ARM64_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
checkout=$(cd "$(dirname "$0")/.." && pwd)
root=${VENTAROXI_ARM64_ROOT:-/var/cache/ventaroxi/arm64}
packages=python3.14-dev,python3-numpy,python3-pytest,python3-hypothesis,dash,coreutils
ready=$root/.ventaroxi-ready # written last: a root without it is an unfinished bootstrap
share=${VENTAROXI_UNIT_SHARE:-0.05}
layout_examples=${VENTAROXI_LAYOUT_EXAMPLES:-30} # of 300 random views; each class has its own test
if (($# == 0)); then
  set -- tests/test_isentropic.py tests/test_mass_flow.py tests/test_normal_shock.py \
    tests/test_flow_inverses.py tests/test_shock_inverses.py tests/test_array_layout.py \
    tests/test_arguments.py
fi
tools=$(mktemp -d)
trap 'rm -rf "$tools"' EXIT

need=()
command -v mmdebstrap >/dev/null || need+=(mmdebstrap)
command -v aarch64-linux-gnu-g++ >/dev/null || need+=(g++-aarch64-linux-gnu)
command -v pkg-config >/dev/null || need+=(pkg-config)
[[ -x /usr/bin/qemu-aarch64-static ]] || need+=(qemu-user-static binfmt-support)
if ((${#need[@]} > 0)); then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

# aarch64 programs run through qemu, registered with binfmt_misc with the fix-binary flag (F):
# the kernel opens the interpreter when it is registered, so that it serves programs inside the
# root too, where there is no qemu.
binfmt=/proc/sys/fs/binfmt_misc
[[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
[[ -e $binfmt/qemu-aarch64 ]] || update-binfmts --enable qemu-aarch64 || true
if ! grep -qx enabled "$binfmt/qemu-aarch64" 2>/dev/null ||
  ! grep -qE '^flags: .*F' "$binfmt/qemu-aarch64"; then
  echo "aarch64: no emulation: qemu-aarch64 is not registered, enabled, with flag F" >&2
  exit 1
fi

if [[ ! -f $ready || $(<"$ready") != "$packages" ]]; then
  echo "aarch64: making $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$(dirname "$root")" # a fresh machine has no cache folder yet
  start=$SECONDS
  # The packages and their dependencies are only unpacked: their maintainer scripts would run
  # under emulation, and nothing here needs what they do but the aliases made below. The
  # mirror's snapshot may be older than its Release file's validity.
  mmdebstrap --variant=extract --arch=arm64 --aptopt='Acquire::Check-Valid-Until "false"' \
    --include="$packages" sid "$root" >"$root.log" 2>&1 || { tail -n 30 "$root.log"; exit 1; }
  # What the maintainer scripts would have made: the merged /usr aliases, and the BLAS and
  # LAPACK names NumPy links to, which update-alternatives points at the reference libraries.
  for dir in bin sbin lib; do ln -s "usr/$dir" "$root/$dir"; done
  mkdir -p "$root/proc"
  multiarch=$root/usr/lib/aarch64-linux-gnu
  ln -s blas/libblas.so.3 "$multiarch/libblas.so.3"
  ln -s lapack/liblapack.so.3 "$multiarch/liblapack.so.3"
  echo "$packages" >"$ready"
  echo "aarch64: made in $((SECONDS - start)) s"
else
  echo "aarch64: reusing $root"
fi
machine=$(chroot "$root" /usr/bin/uname -m)
[[ $machine == aarch64 ]] || { echo "aarch64: the root runs as $machine" >&2; exit 1; }

# The checkout, read-only, at /src; a fresh /tmp, where the build directory is made.
mkdir -p "$root/src"
mount --bind -o ro "$checkout" "$root/src"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
build=$root/tmp/build

# The root's programs, run from here: its python3.14 (for meson to learn where its headers,
# extension suffix and NumPy are) and the unit tests, each on the root's C library.
printf '#!/bin/sh\nexec qemu-aarch64-static -L %s "$@"\n' "$root" >"$tools/in-root"
printf '#!/bin/sh\nexec qemu-aarch64-static -L %s %s/usr/bin/python3.14 "$@"\n' "$root" "$root" \
  >"$tools/python"
chmod +x "$tools/in-root" "$tools/python"
cat >"$tools/cross.ini" <<EOF
[binaries]
cpp = 'aarch64-linux-gnu-g++'
ar = 'aarch64-linux-gnu-gcc-ar'
strip = 'aarch64-linux-gnu-strip'
pkg-config = 'pkg-config'
python = '$tools/python'
exe_wrapper = '$tools/in-root'

[built-in options]
# Debian's pyconfig.h includes the one of its architecture from the root's include directory;
# searched last, after the cross compiler's own C library headers.
cpp_args = ['-idirafter', '$root/usr/include']

[properties]
# NumPy's own pkg-config file; the interpreter's headers come from its sysconfig.
pkg_config_libdir = '$root/usr/lib/python3/dist-packages/numpy/_core/lib/pkgconfig'

[host_machine]
system = 'linux'
cpu_family = 'aarch64'
cpu = 'aarch64'
endian = 'little'
EOF
python3 -m venv "$tools/venv"
"$tools/venv/bin/python" -m pip install --quiet $(grep -E '^(meson|ninja)==' "$checkout/ci/requirements-tools.txt")
export PATH=$tools/venv/bin:$PATH

start=$SECONDS
meson setup --cross-file "$tools/cross.ini" "$build" "$checkout" >"$tools/setup.log" ||
  { cat "$tools/setup.log"; exit 1; }
grep -E 'C\+\+ compiler for the host machine|Run-time dependency' "$tools/setup.log"
ninja -C "$build"
echo "aarch64: module built in $((SECONDS - start)) s"
VENTAROXI_UNIT_SHARE=$share meson test -C "$build" --print-errorlogs --timeout-multiplier=3
grep -hE 'mismatches|agree|targets|passed|chosen|aarch64' "$build/meson-logs/testlog.txt" || true
# The kernel set the module takes here, by the same check of the root's pow; power_choice_test
# (above) has also checked that it is the fused variant, as glibc's aarch64 pow is.
chosen=$("$tools/in-root" "$build/power_choice_test" --which)
echo "aarch64: kernel set chosen by the root's pow: $chosen"
[[ $chosen == baseline ]] || { echo "aarch64: the lanes were not chosen" >&2; exit 1; }

# shellcheck disable=SC2016 # expanded inside the chroot
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 \
  HYPOTHESIS_STORAGE_DIRECTORY=/tmp/hypothesis PYTHONPATH=/tmp/build \
  VENTAROXI_LAYOUT_EXAMPLES="$layout_examples" /bin/sh -euc '
    cd /src
    python3.14 -c "import platform, sys, numpy, ventaroxi; print(platform.machine(), \"CPython\", sys.version.split()[0], \"NumPy\", numpy.__version__, ventaroxi.__file__)"
    python3.14 -m pytest -p no:cacheprovider "$@"
  ' sh "$@"
