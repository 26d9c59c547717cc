# Sourced by the benchmarks: the simulator on 127.0.0.1 for one timed run.
# Expects repo, python and work set, and in_ns (the command prefix that
# enters the run's network namespace; empty for none).

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
