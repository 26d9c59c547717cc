#!/usr/bin/env bash
# The main job, end to end: builds vxUpgrade, lays out a sample program
# folder in demo-run/ (the executables with a "target" tree of three modules,
# two with SIGNAL folders, "MainFrame" and vxUpgrade.ini beside them, as the
# tool is installed), starts the instrument simulator on loopback and
# upgrades it:
#   - with a display, the window opens and you do the upgrade by hand;
#   - without one, vxupgrade-cli does it (--ip 127.0.0.1 --signals KRN3) and
#     the instrument's drive is listed afterwards.
# The simulator is stopped when the script ends, however it ends. Exit
# status: the tool's (0 when the instrument was upgraded).
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
python=/usr/bin/python3

"$repo/scripts/setup.sh" "$repo/build"

run="$repo/demo-run"
rm -rf "$run"
"$python" "$repo/scripts/make_tree.py" demo "$run" >/dev/null
# The catalogue and the trees are read beside the executable, so the
# executables go there (copies: the tool resolves links to its real folder).
cp -f "$repo/build/src/app/vxupgrade" "$repo/build/src/cli/vxupgrade-cli" "$run/"
drive="$run/instrument"
mkdir -p "$drive"

sim_pid=""
sim_out="$(mktemp)"
stop_simulator() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$sim_out"
}
trap stop_simulator EXIT
trap 'exit 130' INT TERM

# Starts the simulator on the given ports (0: a free one) and waits for its
# ready line; false when it could not start.
start_simulator() {
  : >"$sim_out"
  "$python" "$repo/sim/vx900sim" --host 127.0.0.1 --cmd-port "$1" --ftp-port "$2" \
    --drive "$drive" --max-seconds 3600 >"$sim_out" &
  sim_pid=$!
  for _ in $(seq 200); do
    if grep -q '^ready ' "$sim_out"; then return 0; fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  stop_simulator_quietly
  return 1
}
stop_simulator_quietly() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# A real VX900 listens on 5000 and 21, and so does the simulator when it may
# (port 21 needs root). Otherwise both sides use the bench port variables,
# which the tool reads at start: the ones set in this shell, or free ones.
if [[ $(id -u) -eq 0 && -z "${VX900_CMD_PORT:-}${VX900_FTP_PORT:-}" ]] && start_simulator 5000 21; then
  unset VX900_CMD_PORT VX900_FTP_PORT
else
  if [[ $(id -u) -eq 0 && -z "${VX900_CMD_PORT:-}${VX900_FTP_PORT:-}" ]]; then
    echo "Ports 5000 and 21 are taken here: the simulator and the tool use free ports instead."
  fi
  start_simulator "${VX900_CMD_PORT:-0}" "${VX900_FTP_PORT:-0}" || {
    echo "error: the simulator did not start on ports ${VX900_CMD_PORT:-0}/${VX900_FTP_PORT:-0}" >&2
    exit 1
  }
  ready="$(grep -m1 '^ready ' "$sim_out")"
  export VX900_CMD_PORT="$(sed -E 's/.* cmd=([0-9]+).*/\1/' <<<"$ready")"
  export VX900_FTP_PORT="$(sed -E 's/.* ftp=([0-9]+).*/\1/' <<<"$ready")"
fi
echo "Instrument simulator on 127.0.0.1: command channel port ${VX900_CMD_PORT:-5000}, FTP port ${VX900_FTP_PORT:-21}."

show_drive() {
  echo
  echo "The instrument's drive afterwards:"
  (cd "$drive" && find "F0:" -mindepth 1 -printf '%y %s /%p\n' | LC_ALL=C sort -k3 |
    while read -r kind size path; do
      if [[ $kind == d ]]; then echo "  $path/"; else printf '  %-44s %9d bytes\n' "$path" "$size"; fi
    done)
}

status=0
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo
  echo "The vxUpgrade window is opening. In it:"
  echo "  1. type 127.0.0.1 in the IP Address field,"
  echo "  2. tick a module (KRN3 or LPS3: their SIGNAL folders go too),"
  echo "  3. press Copy, and close the success box when it comes."
  "$run/vxupgrade" || status=$?
else
  echo "No display: vxupgrade-cli runs the same upgrade as Copy in the window."
  echo "+ vxupgrade-cli --ip 127.0.0.1 --signals KRN3"
  "$run/vxupgrade-cli" --ip 127.0.0.1 --signals KRN3 || status=$?
fi
show_drive
exit "$status"
