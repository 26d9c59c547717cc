#!/usr/bin/env bash
# Benchmark: what --backup's snapshot costs, and what --restore takes, on
# the "mixed" tree of scripts/make_tree.py. Prints figures; asserts no speed.
#
#   bench/undo.sh [ROUNDS]        (default 3)
#
# Kit A is the "mixed" tree; kit B is A with every tenth file (sorted by
# path) rewritten with other bytes of the same size. Each round starts from
# the drive and the history that A's run left and times, each in its own
# network namespace when run as root:
#   plain    vxupgrade-cli with kit B;
#   backup   vxupgrade-cli --backup with kit B (the snapshot fetches the 10%);
#   restore  vxupgrade-cli --restore right after it (the drive must then
#            equal kit A's tree again).
# Output: medians per kind, the bytes the snapshot fetched, then "snapshot
# share R": (backup - plain) / backup of the medians, the snapshot's time as
# a share of the run that takes it, and the same of the fastest runs (less
# moved by a busy machine).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3
rounds="${1:-3}"
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/undo.sh [ROUNDS]" >&2; exit 2; }
"$repo/scripts/setup.sh" "$repo/build" >/dev/null
cli="$repo/build/src/cli/vxupgrade-cli"

source "$repo/bench/simulator.sh"
make_workspace vxundo

"$python" "$repo/scripts/make_tree.py" mixed "$work/a" --upload-view "$work/a-upload" >/dev/null
cp -a "$work/a" "$work/b"
"$python" - "$work/b" <<'PY'
import os, sys
root = sys.argv[1]
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs
               if not f.startswith(".") and f != "vxUpgrade.ini")
for path in files[::10]:
    size = os.path.getsize(path)
    with open(path, "r+b") as f:
        data = f.read()
        f.seek(0)
        f.write(bytes((b ^ 0x5A) for b in data) if size else b"")
print("changed %d of %d files" % (len(files[::10]), len(files)), file=sys.stderr)
PY
signals=""
for module in KRN3 LPS3 QMX53 SBX3 PRZ53; do
  [[ -d $work/a/target/$module/SIGNAL ]] && signals+="${signals:+,}$module"
done

seconds_of() { # runs the command, prints "<seconds> <exit status>"
  "$python" -c '
import subprocess, sys, time
start = time.monotonic()
status = subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode
print("%.3f %d" % (time.monotonic() - start, status))
' "$@"
}

enter_namespace() {
  sequence=$((${sequence:-0} + 1))
  in_ns=()
  if ((use_namespaces)); then
    namespace="vxundo-$$-$sequence"
    ip netns add "$namespace"
    ip netns exec "$namespace" ip link set lo up
    in_ns=(ip netns exec "$namespace")
  fi
}

leave_namespace() {
  if [[ -n "$namespace" ]]; then ip netns del "$namespace"; namespace=""; fi
}

# run KIND KIT STATE TIMED [tool options...]
run() {
  local kind="$1" kit="$2" state="$3" timed="$4"
  shift 4
  enter_namespace
  start_simulator "$work/drive"
  local seconds status ticked=()
  # A restore puts back what its snapshot holds: it takes no ticked modules.
  [[ $kind == restore || -z $signals ]] || ticked=(--signals "$signals")
  read -r seconds status < <(seconds_of "${in_ns[@]}" env XDG_STATE_HOME="$state" VX900_CMD_PORT="$cmd_port" \
    VX900_FTP_PORT="$ftp_port" "$cli" --ip 127.0.0.1 --yes --dir "$kit" "${ticked[@]}" "$@")
  stop_simulator
  leave_namespace
  [[ $status == 0 ]] || { echo "error: $kind ended with status $status" >&2; exit 1; }
  if [[ $timed == yes ]]; then
    printf '%s %s\n' "$kind" "$seconds" >>"$work/results"
    printf '  round %d  %-8s %7.3f s\n' "$round" "$kind" "$seconds"
  fi
}

# Kit A's run, twice (the first reads the kits for their digests), and
# kit B's digests cached by a dry run: the timed runs read only the drive.
mkdir -p "$work/drive"
run first "$work/a" "$work/state0" no
rm -rf "$work/drive"; mkdir -p "$work/drive"
run first "$work/a" "$work/state0" no
run digests "$work/b" "$work/state0" no --dry-run
cp -a "$work/drive" "$work/drive0"

: >"$work/results"
for round in $(seq "$rounds"); do
  for kind in plain backup; do
    rm -rf "$work/drive" "$work/state"
    cp -a "$work/drive0" "$work/drive"
    cp -a "$work/state0" "$work/state"
    if [[ $kind == plain ]]; then
      run plain "$work/b" "$work/state" yes
    else
      run backup "$work/b" "$work/state" yes --backup
      run restore "$work/b" "$work/state" yes --restore
      if ! diff -r -x 'MID*' "$work/a-upload" "$work/drive/F0:" >/dev/null 2>&1; then
        echo "error: after the restore, the drive differs from kit A's tree" >&2
        exit 1
      fi
    fi
  done
done
snapshot_bytes="$(du -sb "$work"/state/vxupgrade/snapshots/*/* | awk '{ print $1 }')"

"$python" - "$work/results" "$snapshot_bytes" <<'PY'
import collections, statistics, sys
times = collections.defaultdict(list)
for line in open(sys.argv[1]):
    kind, seconds = line.split()
    times[kind].append(float(seconds))
m = {k: statistics.median(v) for k, v in times.items()}
print()
print("%-8s %5s %9s %9s %9s" % ("kind", "runs", "median s", "min s", "max s"))
for kind in ("plain", "backup", "restore"):
    v = times[kind]
    print("%-8s %5d %9.3f %9.3f %9.3f" % (kind, len(v), m[kind], min(v), max(v)))
print()
print("snapshot bytes %d" % int(sys.argv[2]))
lo = {k: min(v) for k, v in times.items()}
print("snapshot share %.2f" % ((m["backup"] - m["plain"]) / m["backup"]))
print("snapshot share (fastest runs) %.2f" % ((lo["backup"] - lo["plain"]) / lo["backup"]))
PY
