#!/usr/bin/env bash
# Builds vxUpgrade and opens its window on a sample program folder
# (demo-run/): the executable with a "target" tree of three modules beside
# it, as the tool is installed. With a display the instrument simulator plays
# the VX900 and the operator upgrades it from the window. With no display it
# runs the window under Xvfb, saves a screenshot and prints where.
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
  # The instrument is the simulator on this machine, with a fresh drive in
  # demo-run/instrument; the link finds its free ports through VX900_CMD_PORT
  # and VX900_FTP_PORT, so the operator types 127.0.0.1 as for a real VX900.
  drive="$run/instrument"
  rm -rf "$drive"
  ready="$run/simulator.ready"
  : > "$ready"
  /usr/bin/python3 "$repo/sim/vx900sim" --cmd-port 0 --ftp-port 0 --drive "$drive" \
    > "$ready" 2> "$run/simulator.log" &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 200); do
    grep -q '^ready ' "$ready" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  line="$(head -n 1 "$ready")"
  [[ "$line" == ready\ * ]] || { echo "error: the simulator did not start:" >&2; cat "$run/simulator.log" >&2; exit 1; }
  cmd_port="$(sed -E 's/^ready cmd=([0-9]+) ftp=([0-9]+) .*/\1/' <<<"$line")"
  ftp_port="$(sed -E 's/^ready cmd=([0-9]+) ftp=([0-9]+) .*/\2/' <<<"$line")"
  echo "A VX900 simulator listens on 127.0.0.1 (command channel $cmd_port, FTP $ftp_port)."
  echo "In the window: type 127.0.0.1, tick the modules whose signals should go, press Copy."
  VX900_CMD_PORT="$cmd_port" VX900_FTP_PORT="$ftp_port" "$run/vxupgrade"
  echo "The instrument's drive now holds:"
  (cd "$drive" && find "F0:" -type f | sort)
  exit 0
fi

shot="$run/vxupgrade-window.png"
rm -f "$shot"
echo "No display: running the window under Xvfb to take a screenshot."
VX_SCREENSHOT="$shot" timeout 60 xvfb-run -a "$run/vxupgrade"
[[ -s "$shot" ]] || { echo "error: no screenshot was saved" >&2; exit 1; }
