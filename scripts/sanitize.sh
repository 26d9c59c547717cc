#!/usr/bin/env bash
# Builds the whole project and every test in a tree of its own
# (build-sanitize, a debug build, which compiles fastest) with
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and runs
# the full CTest suite there. The first report ends the program that made
# it. Exits non-zero when any test fails or any program (a test, or a
# program a test starts) wrote a sanitizer report; the reports are printed
# at the end and kept in build-sanitize/sanitizer-reports/.
# Usage: scripts/sanitize.sh [CTEST ARGS...]   (e.g. -R tst_link)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-sanitize"
"$repo/scripts/setup.sh" "$build" -DVX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# log_path: a report goes to a file of its own (asan.PROGRAM.PID), so that
# one made by a program that a test starts is seen too, whatever that test
# checks. Options already in the environment come last and win.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_exe_name=1:log_path=$reports/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_exe_name=1:log_path=$reports/ubsan${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

cd "$build"
status=0
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j "$(nproc 2>/dev/null || echo 2)" \
  --timeout 900 "$@" || status=$?

shopt -s nullglob
found=("$reports"/*)
if ((${#found[@]})); then
  echo "Sanitizer reports (${#found[@]}):"
  for f in "${found[@]}"; do
    echo "==== $f"
    cat "$f"
  done
  # Qt is built without frame pointers, so leak stacks stop at its frames.
  echo "Whole stacks: ASAN_OPTIONS=fast_unwind_on_malloc=0 scripts/sanitize.sh -R TEST"
  status=1
else
  echo "No sanitizer reports."
fi
exit "$status"
