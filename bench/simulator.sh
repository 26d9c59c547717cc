# Sourced by the benchmarks: their scratch folder, and the simulator on
# 127.0.0.1 for one timed run. Expects repo and python set; the simulator
# also in_ns (the command prefix that enters the run's network namespace;
# empty for none).

# make_workspace NAME: sets work to a fresh folder (in tmpfs when it has a
# GiB to spare), removed on exit with the simulator and the namespace of a
# run cut short; sets use_namespaces to 1 when runs can each have a network
# namespace of their own (root).
make_workspace() {
  local scratch=/tmp
  if [[ -d /dev/shm ]] && (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 1024 * 1024 )); then
    scratch=/dev/shm
  fi
  work="$(mktemp -d "$scratch/$1.XXXXXX")"
  sim_pid=""
  namespace=""
  trap cleanup_workspace EXIT
  trap 'exit 130' INT TERM
  use_namespaces=0
  if [[ $(id -u) -eq 0 ]] && ip netns add "$1-probe-$$" 2>/dev/null; then
    ip netns del "$1-probe-$$"
    use_namespaces=1
  fi
}

cleanup_workspace() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  if [[ -n "$namespace" ]]; then ip netns del "$namespace" 2>/dev/null || true; fi
  rm -rf "$work"
}

# start_simulator DRIVE [SIMULATOR OPTIONS...]: sets sim_pid, cmd_port and
# ftp_port once the simulator says it is ready (15 s at most).
start_simulator() {
  local ready="$work/ready" drive="$1"
  shift
  : >"$ready"
  "${in_ns[@]}" "$python" "$repo/sim/vx900sim" --host 127.0.0.1 --cmd-port 0 --ftp-port 0 --drive "$drive" \
    --capacity unlimited --max-seconds 1800 "$@" >"$ready" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 300); do
    grep -q '^ready ' "$ready" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '^ready ' "$ready" || { echo "error: the simulator did not start:" >&2; cat "$work/sim.err" >&2; exit 1; }
  cmd_port="$(sed -E 's/.* cmd=([0-9]+).*/\1/' "$ready")"
  ftp_port="$(sed -E 's/.* ftp=([0-9]+).*/\1/' "$ready")"
}

stop_simulator() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
