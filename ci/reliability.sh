#!/usr/bin/env bash
# The module's reliability, measured from a clean slate:
#   full        the whole suite at full workloads (argument fuzzing, the hostile caller,
#               reference leaks, threads, the process pow under each GLIBC_TUNABLES mask);
#   sanitizers  the module built with AddressSanitizer and UndefinedBehaviorSanitizer, the whole
#               suite run on it, and the C++ unit tests built and run the same way;
#   valgrind    memcheck on the tests that reach every function and every array layout;
#   debug       CPython 3.14's debug build, whose total reference count the leak tests check.
# Each run yields figures ("name value" lines, from the tests through $VENTAROXI_FIGURES or
# from this script), printed together at the end with their bounds: a figure beyond its
# bound, or one that no run produced, fails the whole.
#
# Usage: bash ci/reliability.sh [run ...]     (default: every run, in the order above)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1
figures=$work/figures
: >"$figures"
# Only the module's own frames make a leak its own: the interpreter and NumPy leak by design.
module_frame='ventaroxi\.cpython|src/(module|relations)/'

log() { printf '\n--- %s\n' "$*"; }
figure() { echo "$1 $2" >>"$figures"; }

# pip, without the warnings of this machine's pip configuration about absent local indexes.
pip_install() { # PYTHON ARGUMENTS...
  local python=$1
  shift
  "$python" -m pip install --quiet "$@" 2> >(grep -v '^WARNING: Location .* is ignored' >&2)
}

# A virtual environment at $work/NAME with the module's test dependencies and the module,
# built with the extra meson set-up arguments given.
test_venv() { # NAME [SETUP-ARGUMENT ...]
  local venv=$work/$1 build_dir=$work/$1-build argument build=()
  shift
  for argument in "$@"; do build+=("-Csetup-args=$argument"); done
  python3 -m venv "$venv"
  pip_install "$venv/bin/python" --upgrade pip
  pip_install "$venv/bin/python" '.[test]' meson-python meson ninja
  pip_install "$venv/bin/python" --no-build-isolation --no-deps --force-reinstall \
    -Cbuild-dir="$build_dir" "${build[@]}" .
}

# Runs pytest with the arguments given, its output also in $work/RUN.log, and records the
# failed tests as figure failed_tests_RUN; a run that ends without pytest's summary line (a
# crash, an abort by a sanitizer) records nothing, and so fails as a missing figure.
suite() { # RUN COMMAND...
  local run=$1 summary
  shift
  "$@" 2>&1 | tee "$work/$run.log" || true
  summary=$(grep -E '[0-9]+ (passed|failed|errors?|skipped).* in [0-9.]+s' "$work/$run.log" | tail -n 1 || true)
  [[ -n $summary ]] || return 0
  figure "failed_tests_$run" "$(grep -oE '[0-9]+ (failed|errors?)' <<<"$summary" |
    awk '{n += $1} END {print n + 0}')"
}

run_full() {
  log "the whole suite at full workloads"
  test_venv release
  local start=$SECONDS
  suite full env VENTAROXI_FUZZ_EXAMPLES=20000 VENTAROXI_LEAK_CALLS=10000 \
    VENTAROXI_THREAD_SECONDS=5 VENTAROXI_HOSTILE_CALLS=40000 VENTAROXI_POW_EVERY_COMBINATION=1 \
    VENTAROXI_FIGURES="$figures" \
    "$work/release/bin/python" -m pytest -p no:cacheprovider -q
  # Hypothesis stops at the first counterexample, so a failed fuzz test is one mismatch.
  figure fuzz_mismatches "$(grep -cE '^(FAILED|ERROR) tests/test_fuzz' "$work/full.log" || true)"
  echo "full workloads: $((SECONDS - start)) s"
}

run_sanitizers() {
  log "AddressSanitizer and UndefinedBehaviorSanitizer: the module, the suite, the C++ units"
  test_venv asan -Db_sanitize=address,undefined -Db_lundef=false \
    '-Dcpp_args=-fno-sanitize-recover=all -fno-omit-frame-pointer'
  local python=$work/asan/bin/python reports=$work/asan-reports asan module
  mkdir -p "$reports"
  asan=$(g++ -print-file-name=libasan.so)
  # Leaks change no exit status (the interpreter's own would fail every child process); they
  # are counted from the logs. A failed allocation must reach the module as NULL, as it would.
  local -x ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:log_path=$reports/suite"
  local -x UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/suite"
  local -x LSAN_OPTIONS=exitcode=0
  # The interpreter is not instrumented, so the runtime must be loaded before it; and its own
  # allocator would hide Python's allocations from AddressSanitizer.
  module=$(LD_PRELOAD=$asan "$python" -c 'import ventaroxi; print(ventaroxi.__file__)')
  [[ $module == "$work/asan/"* ]] || { echo "imported $module, not the sanitized build" >&2; return 1; }
  ldd "$module" | grep -E 'lib(asan|ubsan)\.so' || { echo "$module is not sanitized" >&2; return 1; }
  # UndefinedBehaviorSanitizer writes to standard error whatever log_path says; capturing only
  # at the level of sys lets its reports reach the log rather than pytest's captured output.
  suite sanitizers env LD_PRELOAD="$asan" PYTHONMALLOC=malloc "$python" -m pytest -p no:cacheprovider -q \
    --capture=sys

  log "the C++ unit tests, built with the same sanitizers"
  ASAN_OPTIONS="detect_leaks=1:log_path=$reports/units" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/units" \
    PATH=$work/asan/bin:$PATH meson test -C "$work/asan-build" --print-errorlogs | tee "$work/units.log" || true
  figure failed_tests_sanitized_units "$(awk '/^(Fail|Timeout|Unexpected Pass):/ {n += $2} END {print n + 0}' "$work/units.log")"
  grep -qE '^Ok: +[1-9]' "$work/units.log" || { echo "no C++ unit test passed" >&2; return 1; }
  cp "$work/sanitizers.log" "$reports/suite-output"
  cp "$work/units.log" "$reports/units-output"
  figure sanitizer_errors "$(python3 ci/sanitizer_reports.py "$module_frame" "$reports")"
}

# Under Debian's own CPython, with the packages of the release environment: the pyenv build
# of 3.11.7 reads an uninitialised digit in int.from_bytes(b"") (a CPython bug, harmless),
# and the small int it then picks taints hundreds of later reads in the interpreter, which no
# suppression narrower than the interpreter itself would silence.
run_valgrind() {
  log "valgrind memcheck on the tests of every function and every array layout"
  [[ -x $work/release/bin/python ]] || test_venv release
  if [[ ! -x /usr/bin/python3.11 ]] || ! command -v valgrind >/dev/null; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3.11 valgrind >/dev/null
  fi
  local site
  site=$("$work/release/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
  valgrind --version
  suite valgrind env PYTHONMALLOC=malloc PYTHONPATH="$site" valgrind --tool=memcheck \
    --suppressions=ci/valgrind.supp --num-callers=40 --log-file="$work/valgrind-memcheck.log" \
    /usr/bin/python3.11 -m pytest -p no:cacheprovider -q tests/test_function_table.py \
    tests/test_array_layout.py tests/test_isentropic.py tests/test_flow_inverses.py \
    tests/test_normal_shock.py tests/test_shock_inverses.py tests/test_mass_flow.py
  grep -E '^==[0-9]+== [A-Z]' "$work/valgrind-memcheck.log" | grep -vE '(Memcheck|Copyright|Using Valgrind|Command|HEAP|LEAK|For lists)' |
    sort | uniq -c | sort -rn | head -n 20
  figure valgrind_errors "$(grep -oE 'ERROR SUMMARY: [0-9]+' "$work/valgrind-memcheck.log" | awk '{print $3}')"
}

run_debug() {
  log "CPython 3.14's debug build: total reference counts"
  VENTAROXI_FIGURES=$work/debug-figures VENTAROXI_LEAK_CALLS=10000 \
    suite debug ci/sid314.sh --debug -q
  sed 's/^/debug_/' "$work/debug-figures" >>"$figures" 2>/dev/null || true
  if grep -q ' /var/cache/ventaroxi/' /proc/self/mounts; then
    echo "the sid root is still mounted" >&2
    return 1
  fi
}

# Prints a figure and its bound; false if the figure is missing or beyond the bound. Lower
# bounds hold for the least value recorded, upper bounds for the sum of all values recorded.
check() { # NAME OPERATOR BOUND DESCRIPTION
  local values value
  values=$(awk -v name="$1" '$1 == name {print $2}' "$figures")
  if [[ -z $values ]]; then
    printf '%s: missing (bound %s %s) FAIL\n' "$4" "$2" "$3"
    return 1
  fi
  case $2 in
    '>=') value=$(sort -n <<<"$values" | head -n 1) ;;
    *) value=$(awk '{n += $1} END {print n}' <<<"$values") ;;
  esac
  if python3 -c "import sys; sys.exit(not ($value $2 $3))"; then
    printf '%s: %s (bound %s %s) OK\n' "$4" "$value" "$2" "$3"
  else
    printf '%s: %s (bound %s %s) FAIL\n' "$4" "$value" "$2" "$3"
    return 1
  fi
}

runs=("$@")
((${#runs[@]})) || runs=(full sanitizers valgrind debug)
timings=()
for run in "${runs[@]}"; do
  start=$SECONDS
  "run_$run"
  timings+=("$(printf '%-10s %4d s' "$run" $((SECONDS - start)))")
done

bounds=()
for run in "${runs[@]}"; do
  case $run in
    full) bounds+=("fuzz_examples >= 20000 fuzz examples run" "fuzz_mismatches == 0 fuzz mismatches"
      "references_leaked == 0 references leaked" "thread_mismatches == 0 thread mismatches"
      "thread_calls > 0 calls made from threads" "failed_tests_full == 0 failed tests at full workloads"
      "hostile_calls >= 40000 hostile calls tried" "hostile_thread_calls > 0 calls while a thread changed the array"
      "hostile_crashes == 0 hostile children that crashed"
      "hostile_mismatches == 0 hostile calls against the rules"
      "pow_differing_unmasked == 0 results unlike the process pow's, unmasked"
      "pow_differing_no_FMA == 0 results unlike the process pow's, FMA masked"
      "pow_differing_no_AVX2 == 0 results unlike the process pow's, AVX2 masked"
      "pow_differing_no_AVX2_no_FMA == 0 results unlike the process pow's, AVX2 and FMA masked"
      "pow_differing_perturbed == 0 results unlike a preloaded pow that no kernel set reproduces") ;;
    sanitizers) bounds+=("sanitizer_errors == 0 sanitizer errors"
      "failed_tests_sanitizers == 0 failed tests under the sanitizers"
      "failed_tests_sanitized_units == 0 failed C++ unit tests under the sanitizers") ;;
    valgrind) bounds+=("valgrind_errors == 0 valgrind errors" "failed_tests_valgrind == 0 failed tests under valgrind") ;;
    debug) bounds+=("debug_references_leaked == 0 references leaked under the debug build"
      "failed_tests_debug == 0 failed tests under the debug build") ;;
  esac
done
printf '\nreliability figures:\n'
failed=0
for bound in "${bounds[@]}"; do
  read -r name operator limit description <<<"$bound"
  check "$name" "$operator" "$limit" "$description" || failed=1
done
printf '\nreliability runs:\n'
printf '  %s\n' "${timings[@]}"
printf '  %-10s %4d s\n' total "$SECONDS"
((failed == 0))
