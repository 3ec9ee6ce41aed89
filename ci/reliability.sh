#!/usr/bin/env bash
# The module's memory safety, measured from a clean slate on the focused run of the suite
# (every function, layout, argument error, hostile caller and array, leak path and thread
# test; see ci/lib.sh):
#   sanitizers  the module built with AddressSanitizer and UndefinedBehaviorSanitizer, the
#               focused run and the platform pow's tests (every kernel set) on it, and the
#               C++ unit tests built and run the same way (the unoptimised share of their
#               generated cases); every report counts, and a leak counts where a frame of its
#               stack is the module's;
#   valgrind    memcheck on the tests of every function and every array layout, with the
#               wheel of .ci/run's wheel leg (or one built here).
# The full workloads and the debug interpreter's reference counts are legs of .ci/run.
#
# Usage: bash ci/reliability.sh [run ...]     (default: both runs, in the order above)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source ci/lib.sh
# Only the module's own frames make a leak its own: the interpreter and NumPy leak by design.
module_frame='ventaroxi\.cpython|src/(module|relations)/'

run_sanitizers() {
  log "AddressSanitizer and UndefinedBehaviorSanitizer: the module, the focused run, the C++ units"
  local venv=$work/asan reports=$work/asan-reports asan module
  new_venv "$venv"
  pip_install "$venv/bin/python" -c ci/constraints.txt pytest hypothesis mpmath meson-python meson ninja numpy
  # Unoptimised: with the instrumentation g++ takes five times as long at -O1 (the kernels of
  # one set, 25 s against 2 min), which made this leg's builds 12 of its 15 minutes; the run is
  # slower (the focused run 4 min against 2.5). The release legs build and test the optimised
  # code.
  pip_install "$venv/bin/python" --no-build-isolation -Cbuild-dir="$work/asan-build" \
    -Csetup-args=-Db_sanitize=address,undefined -Csetup-args=-Db_lundef=false \
    -Csetup-args=-Doptimization=0 \
    '-Csetup-args=-Dcpp_args=-fno-sanitize-recover=all -fno-omit-frame-pointer' .
  mkdir -p "$reports"
  asan=$(g++ -print-file-name=libasan.so)
  # Leaks change no exit status (the interpreter's own would fail every child process); they
  # are counted from the logs. A failed allocation must reach the module as NULL, as it would.
  local -x ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:log_path=$reports/suite"
  local -x UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/suite"
  local -x LSAN_OPTIONS=exitcode=0
  # The interpreter is not instrumented, so the runtime must be loaded before it; and its own
  # allocator would hide Python's allocations from AddressSanitizer.
  module=$(LD_PRELOAD=$asan "$venv/bin/python" -c 'import ventaroxi; print(ventaroxi.__file__)')
  [[ $module == "$venv/"* ]] || { echo "imported $module, not the sanitized build" >&2; return 1; }
  ldd "$module" | grep -E 'lib(asan|ubsan)\.so' || { echo "$module is not sanitized" >&2; return 1; }
  # UndefinedBehaviorSanitizer writes to standard error whatever log_path says; capturing only
  # at the level of sys lets its reports reach the log rather than pytest's captured output.
  # The focused run, and the platform pow's, whose child processes run every kernel set.
  local status=0 selected=() argument
  for argument in "${focused[@]}"; do
    [[ $argument == *test_platform_pow* ]] || selected+=("$argument")
  done
  LD_PRELOAD=$asan PYTHONMALLOC=malloc "$venv/bin/python" -m pytest -p no:cacheprovider -q \
    --capture=sys "${selected[@]}" 2>&1 | tee "$reports/suite-output" || status=1

  log "the C++ unit tests, built with the same sanitizers"
  VENTAROXI_UNIT_SHARE=$unoptimised_unit_share ASAN_OPTIONS="detect_leaks=1:log_path=$reports/units" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/units" \
    PATH=$venv/bin:$PATH meson test -C "$work/asan-build" --print-errorlogs |
    tee "$reports/units-output" || status=1
  python3 ci/sanitizer_reports.py "$module_frame" "$reports" || status=1
  return "$status"
}

# Under Debian's own CPython: the pyenv build of 3.11.7 reads an uninitialised digit in
# int.from_bytes(b"") (a CPython bug, harmless), and the small int it then picks taints
# hundreds of later reads in the interpreter, which no suppression narrower than the
# interpreter itself would silence.
run_valgrind() {
  log "valgrind memcheck on the tests of every function and every array layout"
  if [[ ! -x /usr/bin/python3.11 ]] || ! command -v valgrind >/dev/null; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3.11 valgrind >/dev/null
  fi
  /usr/bin/python3.11 -m venv --without-pip "$work/memcheck"
  python3 -m pip --python "$work/memcheck/bin/python" install --quiet -c ci/constraints.txt \
    pytest hypothesis mpmath numpy "$(ci_wheel)" 2> >(grep -v '^WARNING: Location .* is ignored' >&2)
  valgrind --version
  PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 --suppressions=ci/valgrind.supp \
    --num-callers=40 --log-file="$work/memcheck.log" \
    "$work/memcheck/bin/python" -m pytest -p no:cacheprovider -q tests/test_function_table.py \
    tests/test_array_layout.py tests/test_isentropic.py tests/test_flow_inverses.py \
    tests/test_normal_shock.py tests/test_shock_inverses.py tests/test_mass_flow.py ||
    { grep -A 30 -E '^==[0-9]+== (Invalid|Conditional|Use of|Mismatched|Syscall|Source)' "$work/memcheck.log" | head -n 200; return 1; }
  grep -E 'ERROR SUMMARY' "$work/memcheck.log"
}

runs=("$@")
((${#runs[@]})) || runs=(sanitizers valgrind)
for run in "${runs[@]}"; do
  "run_$run"
done
