#!/usr/bin/env bash
# Benchmark: the whole upgrade by vxupgrade-cli against the instrument
# simulator, next to the same tree uploaded to the same simulator's FTP
# server by lftp ("mirror -R", active mode) and by curl (one process, one
# connection, active mode). Prints figures; it is not a test and asserts no
# speed.
#
#   bench/upgrade.sh [RUNS [PROFILE...]]
#                                  RUNS timed runs per tool, tree and profile
#                                  (default 5); the profiles below (default
#                                  all three)
#
# Trees (scripts/make_tree.py, seeded content, the same bytes every time):
#   mixed  about 300 files of 1 KiB to 8 MiB in a few levels, five modules
#          with SIGNAL folders (all ticked), about 150 MiB
#   many   2,000 files of 4 KiB in three levels below one module
# lftp and curl upload what the upgrade leaves on "/F0:/" (module folders and
# SYSTEM); the upgrade also checks the instrument (*IDN?, the drive, its free
# space), makes the NAME files and ensures every folder over the command
# channel, none of which the other two do.
#
# Profiles:
#   loopback  the simulator as it is, on the loopback
#   lan       the simulator with "--latency 1": every reply, and the opening
#             of every active data connection, held back a millisecond, as
#             on a lab network where round trips, not bytes, set the pace
#   first     loopback, the mixed tree only, each upgrade with an empty state
#             folder: a kit's first run, which reads every byte for the
#             digests (the other profiles share one state folder, so their
#             runs after the first find the digests cached)
#
# The simulator runs with "--capacity unlimited": its capacity check walks the
# whole drive for every STOR, which for 2,000 files would time the simulator
# rather than the tools.
#
# After every run the drive is compared byte for byte with the tree
# (diff -r), and for the upgrade its NAME files are checked; any difference
# stops the bench with an error.
#
# Keeping the runs apart: every uploaded file leaves one socket in TIME_WAIT
# for a minute, so back-to-back runs of the "many" tree would run short of
# ephemeral ports and slow the later runs down. Each timed run therefore gets
# a fresh network namespace ("ip netns", needs root) holding its own loopback,
# simulator and client; deleting the namespace drops its sockets. Without
# root the runs share the host's loopback and each one first waits (at most
# 90 s) until fewer than 1,000 loopback sockets are in TIME_WAIT.
# The tools take turns within each round (upgrade, lftp, curl), so a slow
# moment of the shared machine does not fall on one tool only.
#
# Several sessions (loopback and lan profiles): the upgrade also runs with
# "--sessions 4" (vxupgrade-cli-s4), next to lftp "mirror -R --parallel=4"
# (lftp-p4). lftp's parallel mirror runs in passive mode: in active mode it
# stalls after about a thousand files until its time-out, so the only
# figure it can give is a passive one. The instrument's link knows active
# mode only, and that is what the upgrade uses.
#
# Output: a table of medians (and min/max) per profile, tree and tool, then
# a line a tree and profile: "mixed ratio R", "many ratio R", "lan-mixed ratio R",
# "lan-many ratio R", "first-mixed ratio R" (the upgrade's median time divided by the median of the
# faster of lftp and curl on that tree and profile, two decimals) and
# "KEY sessions-4 vs fastest sequential peer R", "KEY sessions-4 vs lftp
# parallel=4 R" and "KEY sessions-4 vs our sequential R" for the loopback and
# lan trees, "peak memory N MiB" (the largest resident set of vxupgrade-cli over all its
# runs), then per tree and profile the upgrade's round trips per file:
# commands it sent on both channels divided by the files stored, from the
# simulator's transcript of one more, untimed run. The upgrade runs as a user
# would, its verification on.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3
if [[ ${1:-} == --help ]]; then sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0; fi
runs="${1:-5}"
usage="usage: bench/upgrade.sh [--help | RUNS [loopback|lan|first ...]]"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
shift || true
profiles=("$@")
((${#profiles[@]})) || profiles=(loopback lan first)
for profile in "${profiles[@]}"; do
  [[ $profile =~ ^(loopback|lan|first)$ ]] || { echo "$usage" >&2; exit 2; }
done

if ! command -v lftp >/dev/null 2>&1; then
  echo "Installing lftp (apt-get) for the comparison."
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends lftp >/dev/null \
    || { "${sudo_cmd[@]}" apt-get update -qq && DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends lftp >/dev/null; }
fi
"$repo/scripts/setup.sh" "$repo/build" >/dev/null
cli="$repo/build/src/cli/vxupgrade-cli"

# Trees and drive live in memory (tmpfs) when there is room: otherwise the
# write-back of one run's 150 MiB to disk slows whichever run comes next.
source "$repo/bench/simulator.sh"
make_workspace vxbench
if ((use_namespaces)); then
  echo "Runs kept apart by a fresh network namespace each."
else
  echo "No network namespaces (not root?): each run waits for the loopback's TIME_WAIT sockets to drain."
fi

echo "Generating the trees in $work ..."
for tree in mixed many; do
  "$python" "$repo/scripts/make_tree.py" "$tree" "$work/$tree/program" --upload-view "$work/$tree/upload" \
    | sed "s/^/  $tree: /"
done
# Every module whose SIGNAL folder exists is ticked, so the upgrade copies
# the whole tree, as lftp and curl do.
signals_of() {
  local module list=()
  for module in KRN3 LPS3 QMX53 SBX3 PRZ53; do
    if [[ -d $1/target/$module/SIGNAL ]]; then list+=("$module"); fi
  done
  (IFS=,; printf '%s' "${list[*]}")
}

# measure OUT ERR COMMAND...: runs the command (standard input empty, its
# output to the files OUT and ERR) and prints "<seconds> <max resident KiB>
# <exit status>". "ip netns exec" and env exec the tool in their own process,
# so the resident figure is the tool's.
measure() {
  "$python" -c '
import resource, subprocess, sys, time
with open(sys.argv[1], "wb") as out, open(sys.argv[2], "wb") as err:
    start = time.monotonic()
    status = subprocess.run(sys.argv[3:], stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
    elapsed = time.monotonic() - start
print("%.3f %d %d" % (elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, status))
' "$@"
}

wait_for_time_wait_to_drain() {
  for _ in $(seq 90); do
    (( $(ss -Htan state time-wait 2>/dev/null | wc -l) < 1000 )) && return 0
    sleep 1
  done
}

start_profiled_simulator() { # drive folder, profile[, transcript]
  local profile=()
  [[ $2 == lan ]] && profile=(--latency 1)
  [[ -n ${3:-} ]] && profile+=(--log "$3")
  start_simulator "$1" "${profile[@]}"
}

verify_drive() { # tree tool drive
  local tree="$1" tool="$2" root="$3/F0:"
  # The NAME files (in SYSTEM/MID<id>) are the upgrade's own; the rest must
  # be the tree, byte for byte, nothing missing and nothing more.
  if ! diff -r -x 'MID*' "$work/$tree/upload" "$root" >"$work/diff" 2>&1; then
    echo "error: after $tool, the drive differs from the $tree tree:" >&2
    head -20 "$work/diff" >&2
    exit 1
  fi
  if [[ $tool == vxupgrade-cli* ]]; then
    "$python" - "$work/$tree/program/vxUpgrade.ini" "$root" <<'PY' || exit 1
import configparser, os, sys
ini = configparser.ConfigParser()
ini.read(sys.argv[1])
for section in ini.sections():
    path = os.path.join(sys.argv[2], "SYSTEM", "MID" + ini[section]["id"], "NAME")
    expected = (ini[section]["name"] + "\r\n").encode()
    if not os.path.isfile(path) or open(path, "rb").read() != expected:
        sys.exit("error: after vxupgrade-cli, %s is missing or wrong" % path)
PY
  fi
}

curl_config() { # tree port -> one upload-file/url pair per file
  (cd "$work/$1/upload" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
    while IFS= read -r file; do
      printf 'upload-file = "%s"\nurl = "ftp://127.0.0.1:%s/%%2FF0:/%s"\n' "$PWD/$file" "$2" "$file"
    done)
}

results="$work/results"
: >"$results"
sequence=0
timed_run() { # profile tree tool round
  local profile="$1" tree="$2" tool="$3" drive="$work/drive"
  sequence=$((sequence + 1))
  in_ns=()
  if ((use_namespaces)); then
    namespace="vxbench-$$-$sequence"
    ip netns add "$namespace"
    ip netns exec "$namespace" ip link set lo up
    in_ns=(ip netns exec "$namespace")
  else
    wait_for_time_wait_to_drain
  fi
  rm -rf "$drive"
  mkdir -p "$drive"
  local transcript=""
  [[ $4 == counted ]] && transcript="$work/transcript-$profile-$tree.jsonl"
  start_profiled_simulator "$drive" "$profile" "$transcript"

  local command=()
  case "$tool" in
    vxupgrade-cli | vxupgrade-cli-s4)
      local signals
      signals="$(signals_of "$work/$tree/program")"
      local state="$work/state"
      if [[ $profile == first ]]; then state="$work/state-$sequence"; fi
      command=(env XDG_STATE_HOME="$state" VX900_CMD_PORT="$cmd_port" VX900_FTP_PORT="$ftp_port" "$cli"
        --ip 127.0.0.1 --dir "$work/$tree/program")
      [[ -n $signals ]] && command+=(--signals "$signals")
      [[ $tool == vxupgrade-cli-s4 ]] && command+=(--sessions 4)
      ;;
    lftp-p4)
      command=(lftp -u kirosu,tovel4417 -p "$ftp_port"
        -e "set ftp:passive-mode on; set net:max-retries 1; mirror -R --parallel=4 --no-perms $work/$tree/upload /F0:; quit" 127.0.0.1)
      ;;
    lftp)
      command=(lftp -u kirosu,tovel4417 -p "$ftp_port"
        -e "set ftp:passive-mode off; set net:max-retries 1; mirror -R --no-perms $work/$tree/upload /F0:; quit" 127.0.0.1)
      ;;
    curl)
      curl_config "$tree" "$ftp_port" >"$work/curl.cfg"
      command=(curl -sS --ftp-create-dirs --ftp-port 127.0.0.1 --disable-eprt -u kirosu:tovel4417 -K "$work/curl.cfg")
      ;;
  esac

  local seconds kib status
  read -r seconds kib status < <(measure "$work/tool.out" "$work/tool.err" "${in_ns[@]}" "${command[@]}")
  stop_simulator
  if [[ "$status" != 0 ]]; then
    echo "error: $tool on the $tree tree ended with status $status:" >&2
    tail -20 "$work/tool.err" >&2
    exit 1
  fi
  verify_drive "$tree" "$tool" "$drive"
  if ((use_namespaces)); then ip netns del "$namespace"; namespace=""; fi
  local key="$tree"
  [[ $profile != loopback ]] && key="$profile-$tree"
  # The counted run writes a transcript, which slows the simulator: it is
  # not timed.
  [[ $4 == counted ]] && return 0
  printf '%s %s %s %s\n' "$key" "$tool" "$seconds" "$kib" >>"$results"
  printf '  %-9s round %d  %-13s %7.3f s\n' "$key" "$4" "$tool" "$seconds"
}

for profile in "${profiles[@]}"; do
  trees=(mixed many)
  [[ $profile == first ]] && trees=(mixed)
  for tree in "${trees[@]}"; do
    echo "Timing the $tree tree on the $profile profile ($runs rounds) ..."
    tools=(vxupgrade-cli vxupgrade-cli-s4 lftp lftp-p4 curl)
    [[ $profile == first ]] && tools=(vxupgrade-cli lftp curl)
    for round in $(seq "$runs"); do
      for tool in "${tools[@]}"; do
        timed_run "$profile" "$tree" "$tool" "$round"
      done
    done
    timed_run "$profile" "$tree" vxupgrade-cli counted
  done
done

"$python" - "$results" "$work" <<'PY'
import os, statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
times, peak = {}, 0
for key, tool, seconds, kib in rows:
    times.setdefault((key, tool), []).append(float(seconds))
    if tool.startswith("vxupgrade-cli"):
        peak = max(peak, int(kib))

def tree_bytes(tree):
    root = os.path.join(sys.argv[2], tree, "upload")
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(root) for f in fs)

keys = [k for k in ("mixed", "many", "lan-mixed", "lan-many", "first-mixed") if (k, "lftp") in times]
median = {k: statistics.median(v) for k, v in times.items()}
# The reference on each tree and profile is the faster of the two peers.
fastest = {key: min(median[(key, "lftp")], median[(key, "curl")]) for key in keys}
print()
print("%-9s %-14s %5s %9s %9s %9s %9s %12s" % ("tree", "tool", "runs", "median s", "min s", "max s", "MiB/s", "vs fastest"))
for key in keys:
    size = tree_bytes(key.rpartition("-")[2]) / 1048576
    for tool in ("vxupgrade-cli", "vxupgrade-cli-s4", "lftp", "lftp-p4", "curl"):
        if (key, tool) not in times:
            continue
        t = times[(key, tool)]
        m = median[(key, tool)]
        print("%-9s %-14s %5d %9.3f %9.3f %9.3f %9.1f %12.2f" % (key, tool, len(t), m, min(t), max(t), size / m, m / fastest[key]))
print()
for key in keys:
    print("%s ratio %.2f" % (key, median[(key, "vxupgrade-cli")] / fastest[key]))
for key in keys:
    if (key, "vxupgrade-cli-s4") not in median:
        continue
    ours = median[(key, "vxupgrade-cli-s4")]
    print("%s sessions-4 vs fastest sequential peer %.2f" % (key, ours / fastest[key]))
    print("%s sessions-4 vs lftp parallel=4 %.2f" % (key, ours / median[(key, "lftp-p4")]))
    print("%s sessions-4 vs our sequential %.2f" % (key, ours / median[(key, "vxupgrade-cli")]))
print("peak memory %.1f MiB" % (peak / 1024))
import json
for key in keys:
    profile = key.rpartition("-")[0] or "loopback"
    path = os.path.join(sys.argv[2], "transcript-%s-%s.jsonl" % (profile, key.rpartition("-")[2]))
    commands = files = 0
    for line in open(path):
        entry = json.loads(line)
        if entry.get("dir") == "in" and entry.get("chan") in ("cmd", "ftp"):
            commands += 1
        elif entry.get("text") == "stored":
            files += 1
    print("%s round trips per file %.2f (%d commands, %d files)" % (key, commands / max(files, 1), commands, files))
PY
