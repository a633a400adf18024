#!/usr/bin/env bash
# The tests under the sanitizers, each kind in a build of its own with clang:
#   address  address and undefined-behaviour sanitizers, every test          (build-asan/)
#   thread   thread sanitizer, the serial, toolkit and end-to-end tests      (build-tsan/)
# Any report about our code fails the run, whether it stops a test or comes from a program a test
# started (each process writes its reports to <build>/sanitizer-reports/). What the system libraries
# themselves do is listed, each with its reason, in scripts/sanitizers/; nothing of ours is.
#
#   scripts/sanitize.sh                 both kinds
#   scripts/sanitize.sh thread -R Pty   one kind, further arguments go to ctest
#
# It needs what scripts/setup.sh installs, and installs clang itself.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
ensure_packages clang libclang-rt-14-dev

kinds=()
while (($#)) && [[ $1 == address || $1 == thread ]]; do kinds+=("$1"); shift; done
((${#kinds[@]})) || kinds=(address thread)
supp=$PWD/scripts/sanitizers

run_kind() {
  local kind=$1 dir flags targets filter
  shift
  case $kind in
    address)
      dir=build-asan
      flags="-fsanitize=address,undefined -fno-sanitize-recover=all"
      targets=all
      filter=()
      export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
      export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
      ;;
    thread)
      dir=build-tsan
      flags="-fsanitize=thread"
      targets="serial_tests toolkit_tests datafiles_tests e2e_tests"
      filter=(-L '^(serial_tests|toolkit_tests|datafiles_tests|e2e_tests)$')
      # Debian's Qt and GLib are not built with the sanitizer: it cannot see their locks, and would take
      # every event Qt allocates on one thread and frees on another for a race. What those libraries do
      # themselves (their calls of malloc, free, write...) is therefore not watched; our code still is.
      export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$supp/tsan.supp"
      ;;
  esac
  local reports=$PWD/$dir/sanitizer-reports
  echo "== $kind: building $targets in $dir"
  local started=$SECONDS
  : >"$dir.log"
  for target in $targets; do
    # Only the compiler's complaints are shown; a build that fails fails the run.
    # The build runs a program of its own (the button images' drawer), whose Qt thread pool the thread
    # sanitizer cannot see into; it is not under test, so reports are only taken from the tests.
    if ! ( [ "$kind" = thread ] && export TSAN_OPTIONS=report_bugs=0
      configure_and_build "$dir" "$target" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-gline-tables-only -O1" \
      -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" ) >>"$dir.log" 2>&1; then
      grep -E -A5 'error|Error' "$dir.log" | head -60 >&2
      echo "== $kind: the build failed (all of it in $dir.log)" >&2
      return 1
    fi
  done
  echo "== $kind: built in $((SECONDS - started)) s; testing"
  rm -rf "$reports" && mkdir -p "$reports"
  for v in ASAN_OPTIONS TSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!v:-}" ] && export "$v=${!v}:log_path=$reports/report"
  done
  local status=0
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure "${filter[@]}" "$@") || status=1
  unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
  if compgen -G "$reports/report.*" >/dev/null; then
    echo "== $kind: sanitizer reports:" >&2
    cat "$reports"/report.* >&2
    status=1
  fi
  echo "== $kind: $([ $status = 0 ] && echo clean || echo FAILED) after $((SECONDS - started)) s"
  return $status
}

status=0
for kind in "${kinds[@]}"; do run_kind "$kind" "$@" || status=1; done
exit $status
