#!/usr/bin/env bash
# Benchmark: the fleet run. The "mixed" kit (scripts/make_tree.py, about 300
# files, 150 MiB, every SIGNAL folder ticked) goes to 8 simulated
# instruments on 127.0.0.2 to 127.0.0.9 (all on the same two ports, each
# simulator with --latency 1: every reply 1 ms late, as across a lab
# network), once as one fleet run with --jobs 8 and once as 8 single runs one
# after another. Prints figures; it is not a test and asserts no speed.
#
#   bench/fleet.sh
#
# Each phase gets fresh drives and, as root, a fresh network namespace of its
# own (its loopback, simulators and tool), so that the sockets the first
# phase leaves in TIME_WAIT cannot slow the second; without root the second
# phase first waits (at most 90 s) for them to drain. After each phase every
# drive is compared byte for byte with the kit.
#
# Peak memory of the fleet run counts all its processes together (the fleet
# and its 8 children): as root, from a memory cgroup of its own (its peak
# usage); otherwise the largest sum of their resident sets, sampled every
# 10 ms.
#
# Output: the fleet's wall time and peak memory, each single run's time and
# their sum, and last the line "fleet ratio R" (the fleet's wall time
# divided by the sum of the single runs, two decimals).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3
addresses=(127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5 127.0.0.6 127.0.0.7 127.0.0.8 127.0.0.9)

"$repo/scripts/setup.sh" "$repo/build" >/dev/null
cli="$repo/build/src/cli/vxupgrade-cli"
# Read whole first: grep -q stops at the first match, and the program's
# next write would then fail the pipeline (pipefail).
if ! grep -q -- '--ip-file' <<<"$("$cli" --help 2>&1)"; then
  echo "error: $cli has no fleet run yet (no --ip-file in its --help)" >&2
  exit 1
fi
if ! grep -q -- '--latency' <<<"$("$python" "$repo/sim/vx900sim" --help 2>&1)"; then
  echo "error: the simulator has no --latency option yet" >&2
  exit 1
fi

scratch=/tmp
if [[ -d /dev/shm ]] && (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 2 * 1024 * 1024 )); then
  scratch=/dev/shm
fi
work="$(mktemp -d "$scratch/vxfleet.XXXXXX")"
source "$repo/scripts/simfleet.sh"
namespace=""
cgroup=""
cleanup() {
  simfleet_stop_all
  if [[ -n "$namespace" ]]; then ip netns del "$namespace" 2>/dev/null || true; fi
  if [[ -n "$cgroup" ]]; then rmdir "$cgroup" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

use_namespaces=0
if [[ $(id -u) -eq 0 ]] && ip netns add "vxfleet-probe-$$" 2>/dev/null; then
  ip netns del "vxfleet-probe-$$"
  use_namespaces=1
fi

# A memory cgroup for the fleet run (version 1 or 2), when one can be made.
cgroup_peak_file=""
if [[ -f /sys/fs/cgroup/cgroup.controllers ]]; then
  own="/sys/fs/cgroup$(sed -n 's/^0:://p' /proc/self/cgroup)"
  if mkdir "$own/vxfleet-$$" 2>/dev/null; then
    cgroup="$own/vxfleet-$$"
    [[ -f $cgroup/memory.peak ]] && cgroup_peak_file="$cgroup/memory.peak"
  fi
elif [[ -d /sys/fs/cgroup/memory ]]; then
  own="/sys/fs/cgroup/memory$(awk -F: '$2 == "memory" { print $3 }' /proc/self/cgroup)"
  if mkdir "$own/vxfleet-$$" 2>/dev/null; then
    cgroup="$own/vxfleet-$$"
    cgroup_peak_file="$cgroup/memory.max_usage_in_bytes"
  fi
fi
if [[ -z $cgroup_peak_file && -n $cgroup ]]; then rmdir "$cgroup"; cgroup=""; fi

echo "Generating the mixed kit in $work ..."
"$python" "$repo/scripts/make_tree.py" mixed "$work/kit" --upload-view "$work/upload" | sed 's/^/  /'
signals="$(simfleet_signals_of "$work/kit")"
printf '%s\n' "${addresses[@]}" >"$work/instruments.txt"

# measure OUT ERR PEAK COMMAND...: runs the command (standard input empty)
# and prints "<seconds> <peak bytes> <exit status>". PEAK says how the peak
# of the command's whole process tree is taken: "cgroup" (the command starts
# in the cgroup made above, whose peak usage is read at the end), "sample"
# (the tree's resident sets summed every 10 ms) or "none" (0; no sampling to
# load the machine).
measure() {
  "$python" - "$@" "$cgroup" "$cgroup_peak_file" <<'PY'
import os, subprocess, sys, threading, time
out_path, err_path, peak_mode = sys.argv[1:4]
cgroup, peak_file = sys.argv[-2:]
command = sys.argv[4:-2]

def join_cgroup():
    with open(os.path.join(cgroup, "cgroup.procs"), "w") as f:
        f.write(str(os.getpid()))

def tree_rss(root):
    children = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/%s/stat" % name) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(ppid, []).append(int(name))
            except (OSError, ValueError, IndexError):
                pass
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        todo.extend(children.get(pid, []))
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total

with open(out_path, "wb") as out, open(err_path, "wb") as err:
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               preexec_fn=join_cgroup if peak_mode == "cgroup" else None)
    peak = [0]
    def sample():
        while process.poll() is None:
            peak[0] = max(peak[0], tree_rss(process.pid))
            time.sleep(0.01)
    sampler = threading.Thread(target=sample) if peak_mode == "sample" else None
    if sampler:
        sampler.start()
    status = process.wait()
    elapsed = time.monotonic() - start
    if sampler:
        sampler.join()
    if peak_mode == "cgroup":
        with open(peak_file) as f:
            peak[0] = int(f.read())
print("%.3f %d %d" % (elapsed, peak[0], status))
PY
}

wait_for_time_wait_to_drain() {
  for _ in $(seq 90); do
    (( $(ss -Htan state time-wait 2>/dev/null | wc -l) < 1000 )) && return 0
    sleep 1
  done
}

# Fresh drives and simulators for a phase (in a namespace of its own as root);
# sets in_ns, the prefix that runs a command beside them.
begin_phase() { # NAME
  in_ns=()
  if ((use_namespaces)); then
    namespace="vxfleet-$$-$1"
    ip netns add "$namespace"
    ip netns exec "$namespace" ip link set lo up
    in_ns=(ip netns exec "$namespace")
  else
    wait_for_time_wait_to_drain
  fi
  SIMFLEET_EXEC=("${in_ns[@]}")
  rm -rf "$work/drives"
  local address
  for address in "${addresses[@]}"; do
    simfleet_start "$address" "$work/drives/$address" --latency 1 --capacity unlimited
  done
}

end_phase() {
  simfleet_stop_all
  if ((use_namespaces)); then ip netns del "$namespace"; namespace=""; fi
}

verify_drive() { # PHASE ADDRESS
  if ! diff -r -x 'MID*' "$work/upload" "$work/drives/$2/F0:" >"$work/diff" 2>&1; then
    echo "error: after the $1, the drive of $2 differs from the kit:" >&2
    head -20 "$work/diff" >&2
    exit 1
  fi
}

# The tool as each phase runs it: beside the phase's simulators, on their ports.
tool() {
  local command=("${in_ns[@]}" env VX900_CMD_PORT="$SIMFLEET_CMD_PORT" VX900_FTP_PORT="$SIMFLEET_FTP_PORT"
    "$cli" --dir "$work/kit" --yes)
  [[ -n $signals ]] && command+=(--signals "$signals")
  printf '%s\0' "${command[@]}" "$@"
}
run_measured() { # OUT ERR PEAK ARGUMENTS...: measure the tool with these arguments
  local out="$1" err="$2" peak="$3" command=()
  shift 3
  mapfile -d '' command < <(tool "$@")
  measure "$out" "$err" "$peak" "${command[@]}"
}
megabytes() { awk -v bytes="$1" 'BEGIN { printf "%.1f", bytes / 1048576 }'; }

if [[ -n $cgroup ]]; then peak_mode=cgroup; peak_how="memory cgroup"; else peak_mode=sample; peak_how="sampled every 10 ms"; fi

echo "Fleet run: ${#addresses[@]} instruments, --jobs 8 ..."
begin_phase fleet
read -r fleet_seconds fleet_peak status < <(run_measured "$work/fleet.out" "$work/fleet.err" "$peak_mode" \
  --ip-file "$work/instruments.txt" --jobs 8)
if [[ $status != 0 ]]; then
  echo "error: the fleet run ended with status $status:" >&2
  tail -30 "$work/fleet.out" "$work/fleet.err" >&2
  exit 1
fi
for address in "${addresses[@]}"; do verify_drive "fleet run" "$address"; done
end_phase
printf '  fleet run   %8.3f s   peak memory %s MiB (all its processes together, %s)\n' \
  "$fleet_seconds" "$(megabytes "$fleet_peak")" "$peak_how"

echo "Single runs, one after another ..."
begin_phase singles
singles=()
for address in "${addresses[@]}"; do
  read -r seconds _ status < <(run_measured "$work/single.out" "$work/single.err" none --ip "$address")
  if [[ $status != 0 ]]; then
    echo "error: the single run of $address ended with status $status:" >&2
    tail -30 "$work/single.out" "$work/single.err" >&2
    exit 1
  fi
  verify_drive "single run" "$address"
  printf '  %-11s %8.3f s\n' "$address" "$seconds"
  singles+=("$seconds")
done
end_phase
singles_sum="$(printf '%s\n' "${singles[@]}" | awk '{ sum += $1 } END { printf "%.3f", sum }')"
printf '  sum         %8.3f s\n' "$singles_sum"
echo
awk -v fleet="$fleet_seconds" -v sum="$singles_sum" 'BEGIN { printf "fleet ratio %.2f\n", fleet / sum }'
