#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero when any test fails.
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
"$repo/scripts/setup.sh" "$repo/build"
cd "$repo/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" --timeout 600

# Copy, Quit and the title-bar close during a run, once more under
# AddressSanitizer and UndefinedBehaviorSanitizer: a second, small build tree
# that builds only that test and the libraries it links (a debug build, which
# compiles fastest), so the whole project is not built twice.
asan="$repo/build-asan"
if [[ ! -f "$asan/CMakeCache.txt" ]]; then
  cmake -S "$repo" -B "$asan" -DVX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$asan" -j "$(nproc 2>/dev/null || echo 2)" --target tst_runreentry
cd "$asan"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -R '^tst_runreentry$' --timeout 600
