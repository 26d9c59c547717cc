#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero when any test fails.
# scripts/sanitize.sh runs the same suite under the sanitizers.
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
"$repo/scripts/setup.sh" "$repo/build"
cd "$repo/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" --timeout 600
