#!/usr/bin/env bash
# Builds vxUpgrade and opens its window.
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
"$repo/scripts/setup.sh" "$repo/build"
exec "$repo/build/src/app/vxupgrade"
