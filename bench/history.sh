#!/usr/bin/env bash
# Benchmark: reading the run history. Writes 100,000 records (each a run of
# eight files against one of ten instruments) into one history.jsonl, as a
# history grown before it was rotated would hold them, and times
# vxupgrade-cli --history with --last 5, with --ip and --last 5, and with
# --ip of an instrument on record only at the very start (which reads the
# whole file), and times the fleet page (--report, and --report --json)
# made from the whole history. Prints figures; it is not a test and asserts
# no speed.
#
#   bench/history.sh [BUILD_DIR] [RECORDS]
#
# Output: one line per case and run: "CASE: N records, S s (CPU C s), P MiB
# peak" (wall time, user and system time, and peak resident memory of the
# command, from /usr/bin/time; on a shared machine the CPU time tells more
# than the wall time), three runs each.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
records="${2:-100000}"
python=/usr/bin/python3

VX_BUILD_TARGET=vxupgrade-cli "$repo/scripts/setup.sh" "$build" >/dev/null
cli="$build/src/cli/vxupgrade-cli"

work="$(mktemp -d /tmp/vxhistory.XXXXXX)"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
mkdir -p "$work/state/vxupgrade"
history="$work/state/vxupgrade/history.jsonl"

"$python" - "$history" "$records" <<'PY'
import datetime, json, sys
path, count = sys.argv[1], int(sys.argv[2])
# The runs spread over the last 200 days, oldest first, so that the page's
# last 30 days hold some of them.
now = datetime.datetime.now(datetime.timezone.utc)
with open(path, "w") as out:
    for i in range(count):
        started = (now - datetime.timedelta(days=200) * (count - i) / count).strftime("%Y-%m-%dT%H:%M:%S.000Z")
        # 10.0.0.99 is on record once, first of all.
        address = "10.0.0.99" if i == 0 else "10.0.0.%d" % (i % 10 + 1)
        files = [{"path": "/F0:/KRN3/SIGNAL/wave%04d.bin" % j, "size": 4096 * j,
                  "sha256": "%064x" % (i * 8 + j), "outcome": "sent-verified"} for j in range(8)]
        record = {"record": 1, "started": started, "ended": started,
                  "tool": "1.0.0", "user": "lab", "host": "bench", "address": address,
                  "identity": "ALVO/BRECKMOOR,VX900,SIM%04d,1.00" % (i % 10), "kit": "/opt/kit/",
                  "modules": [{"id": 3, "name": "KRN3", "ticked": True}], "free": 123456789,
                  "files": files, "kitDigest": "%064x" % (i // 1000), "outcome": "failed" if i % 50 == 0 else "succeeded", "step": "finish",
                  "message": "Run %d" % i, "bytes": 114688, "seconds": 60.0, "dryRun": False}
        out.write(json.dumps(record, separators=(",", ":")) + "\n")
PY
echo "history: $records records, $(( $(stat -c %s "$history") / 1024 / 1024 )) MiB"

measure() {
  local name="$1"; shift
  for run in 1 2 3; do
    local figures
    figures="$(XDG_STATE_HOME="$work/state" /usr/bin/time -f '%e %U %S %M' "$cli" "$@" 2>&1 >/dev/null | tail -n 1)"
    read -r seconds user system kib <<<"$figures"
    printf '%s: %d records, %s s (CPU %.2f s), %.1f MiB peak\n' "$name" "$records" "$seconds" \
      "$(echo "$user + $system" | bc -l)" "$(echo "$kib / 1024" | bc -l)"
  done
}

measure "--last 5" --history --last 5
measure "--ip 10.0.0.3 --last 5" --history --ip 10.0.0.3 --last 5
measure "--ip 10.0.0.99 (whole file)" --history --ip 10.0.0.99
measure "--report (whole file)" --report "$work/fleet.html"
measure "--report --json (whole file)" --report - --json
