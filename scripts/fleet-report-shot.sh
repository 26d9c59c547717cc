#!/usr/bin/env bash
# The README's picture of the fleet page, made from real runs against the
# simulator: six simulated VX900s on 127.0.0.2 to 127.0.0.7, each with its
# own serial, worked by vxupgrade-cli into one history, then
# vxupgrade-cli --report, and a screenshot by headless Chromium.
#
#   scripts/fleet-report-shot.sh [BUILD_DIR] [PNG]     (default docs/fleet-report.png)
#
# The runs: a fleet run on .2 to .4 (.4 refuses every upload: failed); a
# signed second kit onto .2; .3 audited after a file on its drive was
# changed (drifted); .5 awaited after the upgrade but never restarted (not
# confirmed); .6 restarted and confirmed; .7 only dry-run (unknown).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
png="$(realpath -m "${2:-$repo/docs/fleet-report.png}")"

VX_BUILD_TARGET=vxupgrade-cli "$repo/scripts/setup.sh" "$build" >/dev/null
cli="$build/src/cli/vxupgrade-cli"

work="$(mktemp -d /tmp/vxfleetshot.XXXXXX)"
source "$repo/scripts/simfleet.sh"
cleanup() {
  simfleet_stop_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

/usr/bin/python3 "$repo/scripts/make_tree.py" demo "$work/kit" >/dev/null
signals="$(simfleet_signals_of "$work/kit")"
# The second kit: one signal file changed, signed by its publisher.
cp -a "$work/kit" "$work/kit2"
signal="$(find "$work/kit2/target" -path '*SIGNAL*' -type f | sort | head -n 1)"
printf 'revised' >>"$signal"
signify-openbsd -G -n -p "$work/publisher.pub" -s "$work/publisher.sec" -c "VX900 kits 2026-12" >/dev/null
"$cli" --write-checksums "$work/kit2" >/dev/null
(cd "$work/kit2" && signify-openbsd -S -e -s "$work/publisher.sec" -m SHA256 -x SHA256.sig)

for n in 2 3 4 5 6 7; do
  options=(--idn "ALVO/BRECKMOOR,VX900,SIM100$n,1.0$n")
  [[ $n == 4 ]] && options+=(--stor-refuse 550)
  [[ $n == 6 ]] && options+=(--restart-after-quit 0.3 --restart-down 0.5)
  simfleet_start "127.0.0.$n" "$work/drive-$n" "${options[@]}"
done
export VX900_CMD_PORT=$SIMFLEET_CMD_PORT VX900_FTP_PORT=$SIMFLEET_FTP_PORT
history="$work/history.jsonl"
# Each run's own failure is part of the picture; the log keeps what it said.
run() { "$cli" --history-file "$history" --yes --signals "$signals" "$@" >>"$work/runs.log" 2>&1 || true; }
# An audit asks nothing, so it takes no answer.
audit() { "$cli" --history-file "$history" --signals "$signals" --verify "$@" >>"$work/runs.log" 2>&1 || true; }

run --dir "$work/kit" --ip 127.0.0.2 --ip 127.0.0.3 --ip 127.0.0.4
run --dir "$work/kit2" --ip 127.0.0.2 --trusted-key "$work/publisher.pub"
run --dir "$work/kit" --ip 127.0.0.5 --await-reboot --reboot-timeout 2
run --dir "$work/kit" --ip 127.0.0.6 --await-reboot --reboot-timeout 20
run --dir "$work/kit" --ip 127.0.0.7 --dry-run
changed="$(find "$work/drive-3/F0:" -path '*SIGNAL*' -type f | sort | head -n 1)"
printf 'changed on the instrument' >>"$changed"
audit --dir "$work/kit" --ip 127.0.0.3
audit --dir "$work/kit2" --ip 127.0.0.2

"$cli" --report "$work/fleet.html" --history-file "$history"
mkdir -p "$(dirname "$png")"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/profile" --hide-scrollbars \
  --window-size=1500,1250 --screenshot="$png" "file://$work/fleet.html" >/dev/null 2>&1
echo "wrote $png"
