# Sourced by scripts that need several instrument simulators at once: each
# on its own loopback address (127.0.0.2, 127.0.0.3, ...), all on the same
# two ports, as a fleet of real VX900s all answer on 5000 and 21.
#
#   source scripts/simfleet.sh
#   simfleet_start 127.0.0.2 "$work/drive-2" [simulator options...]
#   simfleet_start 127.0.0.3 "$work/drive-3" --stor-refuse 550
#   VX900_CMD_PORT=$SIMFLEET_CMD_PORT VX900_FTP_PORT=$SIMFLEET_FTP_PORT vxupgrade-cli ...
#   simfleet_stop_all
#
# The first simulator picks two free ports; the others take the same ones.
# DRIVE is made when missing and kept (the simulator's --drive), so that a
# caller can compare it with the kit after the run. SIMFLEET_EXEC (an array,
# empty by default) is put before each simulator's command line, for example
# (ip netns exec NAME) to start them in a network namespace.
# Needs: $repo (the checkout) and $work (a scratch folder) set by the caller.

SIMFLEET_CMD_PORT=0
SIMFLEET_FTP_PORT=0
SIMFLEET_PIDS=()
if ! declare -p SIMFLEET_EXEC >/dev/null 2>&1; then SIMFLEET_EXEC=(); fi

simfleet_start() { # ADDRESS DRIVE [simulator options...]
  local address="$1" drive="$2"
  shift 2
  local ready="$work/simfleet-$address.ready" err="$work/simfleet-$address.err"
  mkdir -p "$drive"
  : >"$ready"
  "${SIMFLEET_EXEC[@]}" /usr/bin/python3 "$repo/sim/vx900sim" --host "$address" \
    --cmd-port "$SIMFLEET_CMD_PORT" --ftp-port "$SIMFLEET_FTP_PORT" --drive "$drive" \
    --max-seconds 3600 "$@" >"$ready" 2>"$err" &
  local pid=$!
  SIMFLEET_PIDS+=("$pid")
  local _
  for _ in $(seq 400); do
    grep -q '^ready ' "$ready" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! grep -q '^ready ' "$ready"; then
    echo "error: the simulator on $address did not start:" >&2
    cat "$err" >&2
    return 1
  fi
  SIMFLEET_CMD_PORT="$(sed -E 's/.* cmd=([0-9]+).*/\1/' "$ready")"
  SIMFLEET_FTP_PORT="$(sed -E 's/.* ftp=([0-9]+).*/\1/' "$ready")"
}

simfleet_stop_all() {
  local pid
  for pid in "${SIMFLEET_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${SIMFLEET_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SIMFLEET_PIDS=()
  SIMFLEET_CMD_PORT=0
  SIMFLEET_FTP_PORT=0
}

# The modules of a program folder whose SIGNAL folder exists, comma-separated:
# ticking them all makes the upgrade copy the whole kit.
simfleet_signals_of() { # PROGRAM_DIR
  local module list=()
  for module in KRN3 LPS3 QMX53 SBX3 PRZ53; do
    if [[ -d $1/target/$module/SIGNAL ]]; then list+=("$module"); fi
  done
  (IFS=,; printf '%s' "${list[*]}")
}
