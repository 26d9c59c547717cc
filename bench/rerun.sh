#!/usr/bin/env bash
# Benchmark: what a re-run with --changed-only costs against the simulator.
# Prints figures; it is not a test and asserts no speed.
#
#   bench/rerun.sh [ROUNDS [PART...]]   (default 3 rounds; parts "rerun" and
#                                       "memory", default both)
#
# For the trees "mixed" and "many" of scripts/make_tree.py, each round times:
#   full     vxupgrade-cli on an empty drive (the kit's digests cached, as for
#            any run after a kit's first);
#   rerun    vxupgrade-cli --changed-only right after it, nothing changed;
#   lftp2    lftp's second "mirror -R" of the same tree onto a drive its first
#            one filled (active mode, as bench/upgrade.sh runs it);
# and on "many" only:
#   resume   vxupgrade-cli --changed-only after a run that lost its connection
#            half-way (the simulator's --drop-after-files at the middle).
# Every timed run has its own network namespace when run as root (else it
# waits for the loopback's TIME_WAIT sockets to drain), and every drive is
# compared with the tree afterwards.
#
# Output: medians per tree and kind, then "mixed rerun/full R", "many
# rerun/full R" (target at most 0.15), "mixed rerun/lftp2 R", "many
# rerun/lftp2 R" (target at most 1.0) and "many resume/full R" (target at
# most 0.6), and the re-run's commands per folder from one transcript.
#
# The part "memory" runs, once, vxupgrade-cli on the "huge" tree (20,000
# files of 1 KiB): a first run (no digests cached, empty drive), a cached
# run (empty drive again) and a --changed-only run onto the drive it
# filled, and prints each one's seconds and peak resident memory:
# "huge first: S s, peak N MiB" (target under 50 MiB for all three).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3
rounds="${1:-3}"
usage="usage: bench/rerun.sh [ROUNDS [rerun|memory ...]]"
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
shift || true
parts=("$@")
((${#parts[@]})) || parts=(rerun memory)
part_rerun=0 part_memory=0
for part in "${parts[@]}"; do
  case "$part" in
    rerun) part_rerun=1 ;;
    memory) part_memory=1 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
command -v lftp >/dev/null 2>&1 || { echo "error: lftp is needed (bench/upgrade.sh installs it)" >&2; exit 1; }
"$repo/scripts/setup.sh" "$repo/build" >/dev/null
cli="$repo/build/src/cli/vxupgrade-cli"

source "$repo/bench/simulator.sh"
make_workspace vxrerun

trees=()
((part_rerun)) && trees+=(mixed many)
((part_memory)) && trees+=(huge)
for tree in "${trees[@]}"; do
  "$python" "$repo/scripts/make_tree.py" "$tree" "$work/$tree/program" --upload-view "$work/$tree/upload" >/dev/null
done
signals_of() {
  local module list=()
  for module in KRN3 LPS3 QMX53 SBX3 PRZ53; do
    [[ -d $1/target/$module/SIGNAL ]] && list+=("$module")
  done
  (IFS=,; printf '%s' "${list[*]}")
}

# Runs the command, prints "<seconds> <exit status> <peak resident KiB>"
# ("ip netns exec" and env exec the tool in their own process, so the
# resident figure is the tool's).
seconds_of() {
  "$python" -c '
import resource, subprocess, sys, time
start = time.monotonic()
status = subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode
elapsed = time.monotonic() - start
print("%.3f %d %d" % (elapsed, status, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
' "$@"
}

enter_namespace() {
  sequence=$((${sequence:-0} + 1))
  in_ns=()
  if ((use_namespaces)); then
    namespace="vxrerun-$$-$sequence"
    ip netns add "$namespace"
    ip netns exec "$namespace" ip link set lo up
    in_ns=(ip netns exec "$namespace")
  else
    for _ in $(seq 90); do
      (( $(ss -Htan state time-wait 2>/dev/null | wc -l) < 1000 )) && break
      sleep 1
    done
  fi
}

leave_namespace() {
  if [[ -n "$namespace" ]]; then ip netns del "$namespace"; namespace=""; fi
}


# run KIND TREE DRIVE EXPECT TIMED [simulator options...] [-- tool options...]
# One tool run in its own namespace against a simulator on DRIVE; EXPECT is
# the exit status it must end with; TIMED "yes" puts it in the results.
run() {
  local kind="$1" tree="$2" drive="$3" expect="$4" timed="$5"
  shift 5
  local sim_options=() tool_options=()
  while (($#)) && [[ $1 != -- ]]; do sim_options+=("$1"); shift; done
  (($#)) && shift
  tool_options=("$@")
  enter_namespace
  start_simulator "$drive" "${sim_options[@]}"
  local command
  if [[ $kind == lftp* ]]; then
    command=(lftp -u kirosu,tovel4417 -p "$ftp_port"
      -e "set ftp:passive-mode off; set net:max-retries 1; mirror -R --no-perms $work/$tree/upload /F0:; quit" 127.0.0.1)
  else
    local signals
    signals="$(signals_of "$work/$tree/program")"
    command=(env XDG_STATE_HOME="${state:-$work/state-$tree}" VX900_CMD_PORT="$cmd_port" VX900_FTP_PORT="$ftp_port" "$cli"
      --ip 127.0.0.1 --yes --dir "$work/$tree/program" "${tool_options[@]}")
    [[ -n $signals ]] && command+=(--signals "$signals")
  fi
  local seconds status kib
  read -r seconds status kib < <(seconds_of "${in_ns[@]}" "${command[@]}")
  stop_simulator
  leave_namespace
  if [[ $status != "$expect" ]]; then
    echo "error: $kind on $tree ended with status $status (expected $expect)" >&2
    exit 1
  fi
  if [[ $timed == yes ]]; then
    if ! diff -r -x 'MID*' "$work/$tree/upload" "$drive/F0:" >/dev/null 2>&1; then
      echo "error: after $kind, the drive differs from the $tree tree" >&2
      exit 1
    fi
    printf '%s %s %s %s\n' "$tree" "$kind" "$seconds" "$kib" >>"$work/results"
    printf '  %-5s round %d  %-6s %7.3f s  peak %.1f MiB\n' "$tree" "$round" "$kind" "$seconds" "$(echo "$kib / 1024" | bc -l)"
  fi
}

if ((part_memory)); then
  # The huge tree: a first run with nothing cached, a cached one, then a
  # --changed-only run onto the drive the cached one filled.
  echo "Memory on the huge tree (20,000 files of 1 KiB) ..."
  : >"$work/results"
  round=1
  drive="$work/drive"
  rm -rf "$drive"; mkdir -p "$drive"
  state="$work/state-huge-first" run first huge "$drive" 0 yes
  rm -rf "$drive"; mkdir -p "$drive"
  state="$work/state-huge-first" run cached huge "$drive" 0 yes
  state="$work/state-huge-first" run changed huge "$drive" 0 yes -- --changed-only
  "$python" - "$work/results" <<'PY'
import sys
for line in open(sys.argv[1]):
    tree, kind, seconds, kib = line.split()
    print("%s %s: %s s, peak %.1f MiB" % (tree, kind, seconds, int(kib) / 1024))
PY
  ((part_rerun)) || exit 0
fi

: >"$work/results"
for round in $(seq "$rounds"); do
  for tree in mixed many; do
    drive="$work/drive"
    rm -rf "$drive"; mkdir -p "$drive"
    # The first round's first run reads the kit for its digests: untimed.
    ((round == 1)) && run warm "$tree" "$drive" 0 no
    rm -rf "$drive"; mkdir -p "$drive"
    run full "$tree" "$drive" 0 yes
    run rerun "$tree" "$drive" 0 yes -- --changed-only
    rm -rf "$drive"; mkdir -p "$drive"
    run lftp1 "$tree" "$drive" 0 no
    run lftp2 "$tree" "$drive" 0 yes
    if [[ $tree == many ]]; then
      rm -rf "$drive"; mkdir -p "$drive"
      # 1 NAME file, then 1,000 of the 2,000 kit files.
      run failed "$tree" "$drive" 1 no --drop-after-files 1001 -- --changed-only
      run resume "$tree" "$drive" 0 yes -- --changed-only
    fi
  done
done

# One more re-run with a transcript: what it asks the instrument.
enter_namespace
start_simulator "$work/drive" --log "$work/transcript.jsonl"
signals="$(signals_of "$work/many/program")"
"${in_ns[@]}" env XDG_STATE_HOME="$work/state-many" VX900_CMD_PORT="$cmd_port" VX900_FTP_PORT="$ftp_port" "$cli" \
  --ip 127.0.0.1 --yes --dir "$work/many/program" --changed-only ${signals:+--signals "$signals"} >/dev/null 2>&1 || true
stop_simulator
leave_namespace

"$python" - "$work/results" "$work/transcript.jsonl" "$work/many/upload" <<'PY'
import collections, json, os, statistics, sys
times = collections.defaultdict(list)
for line in open(sys.argv[1]):
    tree, kind, seconds, _ = line.split()
    times[(tree, kind)].append(float(seconds))
m = {k: statistics.median(v) for k, v in times.items()}
print()
print("%-6s %-7s %5s %9s %9s %9s" % ("tree", "kind", "runs", "median s", "min s", "max s"))
for (tree, kind), v in sorted(times.items()):
    print("%-6s %-7s %5d %9.3f %9.3f %9.3f" % (tree, kind, len(v), m[(tree, kind)], min(v), max(v)))
print()
for tree in ("mixed", "many"):
    print("%s rerun/full %.2f" % (tree, m[(tree, "rerun")] / m[(tree, "full")]))
for tree in ("mixed", "many"):
    print("%s rerun/lftp2 %.2f" % (tree, m[(tree, "rerun")] / m[(tree, "lftp2")]))
print("many resume/full %.2f" % (m[("many", "resume")] / m[("many", "full")]))
commands = collections.Counter()
for line in open(sys.argv[2]):
    entry = json.loads(line)
    if entry.get("dir") == "in" and entry.get("chan") in ("cmd", "ftp"):
        commands[entry["text"].split(" ")[0]] += 1
folders = sum(1 for _ in os.walk(sys.argv[3]))
print("many rerun: %d commands for %d folders: %s" % (sum(commands.values()), folders,
      ", ".join("%s %d" % kv for kv in commands.most_common(8))))
PY
