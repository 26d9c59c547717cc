#!/usr/bin/env bash
# The playbook end to end on this machine: Debian's ansible-core drives two
# lab hosts, "lab-a" and "lab-b", both this machine through a local
# connection, each with its own install folder. Their instruments are
# simulators on loopback addresses, all on the same two ports:
#   lab-a: 127.0.0.2 and 127.0.0.3, healthy
#   lab-b: 127.0.0.4, which refuses every upload
# Checked: the play fails for lab-b only; the report on the control machine
# holds one record per instrument with its lab host and outcome; each host's
# log and history were written; the healthy drives hold the whole kit; the
# fleet page made from both labs' gathered histories lists every instrument.
# A second play limited to lab-a succeeds, and its report and page hold
# lab-a alone.
#
# Needs the fleet run in vxupgrade-cli (--ip-file, --json) and the history
# records; it stops with a clear error while they are missing.
# Prints "ok"/"not ok" per check and ends with "N passed, N failed".
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
here="$repo/contrib/ansible"

if ! command -v ansible-playbook >/dev/null 2>&1; then
  echo "Installing ansible-core (apt-get)."
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends ansible-core >/dev/null \
    || { "${sudo_cmd[@]}" apt-get update -qq && "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends ansible-core >/dev/null; }
fi
"$repo/scripts/setup.sh" "$repo/build" >/dev/null
cli="$repo/build/src/cli/vxupgrade-cli"
# Read whole first: grep -q stops at the first match, and the program's
# next write would then fail the pipeline (pipefail).
help_text="$("$cli" --help 2>&1)"
if ! grep -q -- '--ip-file' <<<"$help_text"; then
  echo "error: $cli has no fleet run yet (no --ip-file in its --help); this test waits for it" >&2
  exit 1
fi

work="$(mktemp -d /tmp/vxansible.XXXXXX)"
source "$repo/scripts/simfleet.sh"
cleanup() {
  simfleet_stop_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

/usr/bin/python3 "$repo/scripts/make_tree.py" demo "$work/kit" --upload-view "$work/upload" >/dev/null
signals="$(simfleet_signals_of "$work/kit")"
# Three instruments, each with its own serial.
simfleet_start 127.0.0.2 "$work/drive-2" --idn "ALVO/BRECKMOOR,VX900,SIM0002,1.00"
simfleet_start 127.0.0.3 "$work/drive-3" --idn "ALVO/BRECKMOOR,VX900,SIM0003,1.00"
simfleet_start 127.0.0.4 "$work/drive-4" --idn "ALVO/BRECKMOOR,VX900,SIM0004,1.00" --stor-refuse 550

cat >"$work/inventory.yml" <<INVENTORY
vx900_labs:
  hosts:
    lab-a:
      vx900_instruments: [127.0.0.2, 127.0.0.3]
      vxupgrade_home: $work/lab-a
      vxupgrade_environment: {XDG_STATE_HOME: $work/lab-a/state, VX900_CMD_PORT: "$SIMFLEET_CMD_PORT", VX900_FTP_PORT: "$SIMFLEET_FTP_PORT"}
    lab-b:
      vx900_instruments: [127.0.0.4]
      vxupgrade_home: $work/lab-b
      vxupgrade_environment: {XDG_STATE_HOME: $work/lab-b/state, VX900_CMD_PORT: "$SIMFLEET_CMD_PORT", VX900_FTP_PORT: "$SIMFLEET_FTP_PORT"}
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    vxupgrade_kit_src: $work/kit
    vxupgrade_cli_src: $cli
    vxupgrade_signals: [${signals//,/, }]
    vxupgrade_report_dir: $work/report
INVENTORY

passed=0
failed=0
check() { # DESCRIPTION COMMAND...
  local description="$1"
  shift
  if "$@" >"$work/check.out" 2>&1; then
    echo "ok - $description"
    passed=$((passed + 1))
  else
    echo "not ok - $description"
    sed 's/^/    /' "$work/check.out"
    failed=$((failed + 1))
  fi
}
play() { # LOG [ansible-playbook options...]; prints the exit status
  local log="$1" status=0
  shift
  ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" \
    ansible-playbook -i "$work/inventory.yml" "$here/upgrade.yml" "$@" >"$log" 2>&1 || status=$?
  echo "$status"
}
recap_failed() { # LOG HOST: the failed= count of HOST in the play recap
  sed -nE "s/^$2 +:.* failed=([0-9]+).*/\1/p" "$1"
}
# report_is FILE HOST=ADDRESS=OUTCOME...: exactly these records, in any order.
report_is() {
  /usr/bin/python3 - "$@" <<'PY'
import json, sys
with open(sys.argv[1]) as f:
    records = [json.loads(line) for line in f if line.strip()]
got = sorted("%s=%s=%s" % (r.get("lab_host"), r.get("address"), r.get("outcome")) for r in records)
want = sorted(sys.argv[2:])
if got != want:
    sys.exit("report holds %s, expected %s" % (got, want))
PY
}
history_count() { # STATE_DIR: the number of records in its history file
  local file="$1/vxupgrade/history.jsonl"
  [[ -f $file ]] && grep -c . "$file" || echo 0
}
page_lists() { # PAGE ADDRESS...: each address in a row of the fleet page
  local address
  for address in "${@:2}"; do
    grep -q "<td>$address</td>" "$1" || { echo "no row for $address in $1"; return 1; }
  done
}
drive_complete() { # DRIVE: the kit's files, byte for byte (NAME files are the upgrade's own)
  diff -r -x 'MID*' "$work/upload" "$1/F0:"
}

status="$(play "$work/play1.log")"
echo "first play (both labs) exit status $status"
check "the play fails (exit status 2: a host failed)" test "$status" = 2
check "lab-a did not fail" test "$(recap_failed "$work/play1.log" lab-a)" = 0
check "lab-b failed" test "$(recap_failed "$work/play1.log" lab-b)" = 1
check "lab-b's failure names its instrument" grep -q '127.0.0.4 failed' "$work/play1.log"
check "the report holds every instrument's record" report_is "$work/report/report.jsonl" \
  lab-a=127.0.0.2=succeeded lab-a=127.0.0.3=succeeded lab-b=127.0.0.4=failed
check "each host's log reached the control machine" \
  grep -q '^\[127.0.0.4\] ' "$work/report/lab-b.log"
check "lab-a's history has its two runs" test "$(history_count "$work/lab-a/state")" = 2
check "lab-b's history has its run" test "$(history_count "$work/lab-b/state")" = 1
check "127.0.0.2 holds the whole kit" drive_complete "$work/drive-2"
check "127.0.0.3 holds the whole kit" drive_complete "$work/drive-3"
check "the packed kit was cleaned up" test ! -e "$work/report/.kit.tar"
check "each lab's history was gathered" test -s "$work/report/histories/lab-a/history.jsonl" -a \
  -s "$work/report/histories/lab-b/history.jsonl"
check "the fleet page lists every lab's instruments" page_lists "$work/report/fleet.html" \
  127.0.0.2 127.0.0.3 127.0.0.4
check "the fleet page shows the refusing instrument failed" \
  grep -q '<tr class="failed">.*<td>127.0.0.4</td>' "$work/report/fleet.html"

rm -rf "$work/report"
status="$(play "$work/play2.log" --limit lab-a)"
echo "second play (lab-a only) exit status $status"
check "the play succeeds" test "$status" = 0
check "its report holds lab-a's instruments alone" report_is "$work/report/report.jsonl" \
  lab-a=127.0.0.2=succeeded lab-a=127.0.0.3=succeeded
check "its fleet page holds lab-a's instruments alone" \
  bash -c '! grep -q 127.0.0.4 "$1" && grep -q "<td>127.0.0.2</td>" "$1"' - "$work/report/fleet.html"

if ((failed > 0)); then
  echo "--- first play's output:"
  cat "$work/play1.log"
fi
echo "$passed passed, $failed failed"
((failed == 0))
