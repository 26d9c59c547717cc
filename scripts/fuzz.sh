#!/usr/bin/env bash
# Builds the parsers' fuzz targets (fuzz/) with clang's libFuzzer, in a tree
# of its own (build-fuzz), and runs each for SECONDS (default 60), one after
# another. Each target starts from its seed corpus in fuzz/corpus/ plus what
# earlier runs found (build-fuzz/corpus/). Prints executions, coverage and
# features per target; exits non-zero when any target found a crash, a leak,
# a sanitizer report or a broken check: the input that did it is kept in
# build-fuzz/findings/TARGET/ (replay: build-fuzz/fuzz/TARGET FILE).
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="$repo/build-fuzz"
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_ftp_reply fuzz_ftp_listing fuzz_catalogue_reply fuzz_error_queue_reply fuzz_ini_file fuzz_cli_options fuzz_signed_kit)
fi

VX_EXTRA_PACKAGES="clang libclang-rt-14-dev" VX_BUILD_TARGET=fuzzers \
  "$repo/scripts/setup.sh" "$build" -DVX_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++

export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1"
status=0
summary=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  echo "== $t: $seconds s"
  result=0
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$repo/fuzz/corpus/$t" >"$log" 2>&1 || result=$?
  # The last status line ("#N DONE cov: C ft: F corp: ...") has the totals.
  last="$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)"
  execs="$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)"
  cov="$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")"
  ft="$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")"
  corp="$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$last")"
  verdict="ok"
  if ((result != 0)); then
    verdict="FOUND (exit $result, see $log and $findings/)"
    status=1
    tail -n 40 "$log"
  fi
  summary+=("$(printf '%-24s execs %-10s cov %-6s ft %-7s corpus %-6s %s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$verdict")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$status"
