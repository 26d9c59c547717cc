#!/usr/bin/env bash
# Builds vxUpgrade and opens its window on a sample program folder
# (demo-run/): the executable with a "target" tree of three modules beside
# it, as the tool is installed. With no display it runs the window under
# Xvfb, saves a screenshot and prints where.
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
"$repo/scripts/setup.sh" "$repo/build"

run="$repo/demo-run"
mkdir -p "$run/target/KRN3/SIGNAL" "$run/target/LPS3/SIGNAL" "$run/target/QMX53" "$run/MainFrame"
printf 'kernel image\n' > "$run/target/KRN3/kernel.bin"
printf 'signal table\n' > "$run/target/KRN3/SIGNAL/sine.sig"
printf 'signal table\n' > "$run/target/LPS3/SIGNAL/pulse.sig"
printf 'module image\n' > "$run/target/QMX53/qmx.bin"
printf 'system file\n' > "$run/MainFrame/system.cfg"
# The catalogue is read beside the executable, so the executable goes there.
cp -f "$repo/build/src/app/vxupgrade" "$run/vxupgrade"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$run/vxupgrade"
fi

shot="$run/vxupgrade-window.png"
rm -f "$shot"
echo "No display: running the window under Xvfb to take a screenshot."
VX_SCREENSHOT="$shot" timeout 60 xvfb-run -a "$run/vxupgrade"
[[ -s "$shot" ]] || { echo "error: no screenshot was saved" >&2; exit 1; }
