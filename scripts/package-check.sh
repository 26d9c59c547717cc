#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it on this
# machine: the package is unpacked (dpkg-deb -x) into a temporary root, and
# from there
#   - every program answers --version with one and the same version;
#   - the simulator of the package plays the instrument on free loopback
#     ports, and vxupgrade-cli of the package upgrades it from a kit given
#     with --dir; the instrument's drive then holds the kit's files;
#   - the window of the package opens on the offscreen platform with the kit
#     given as its argument;
#   - the man pages and the desktop entry are in place (desktop-file-validate);
#   - lintian finds no error.
# Exits non-zero when any check fails. Usage: scripts/package-check.sh [BUILD_DIR]
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
python=/usr/bin/python3

# Installs the packaging tools too (lintian, help2man, ...), configures, builds.
"$repo/scripts/setup.sh" "$build"
cmake --build "$build" --target package

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/vxupgrade_${version}_amd64.deb"
[[ -n "$version" && -f "$deb" ]] || { echo "FAIL: no package $deb" >&2; exit 1; }
echo "Package: $deb"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# --- --version: the C++ programs and the simulator say the same version.
texts=()
for program in vxupgrade vxupgrade-cli vx900sim; do
  pattern="^$program ${version//./[.]}( [(]git [^)]+[)])?\$"
  if out="$("$bin/$program" --version)" && [[ "$out" =~ $pattern ]]; then
    ok "$program --version: $out"
    texts+=("${out#"$program "}")
  else
    fail "$program --version printed \"${out:-}\""
  fi
done
if [[ ${#texts[@]} -eq 3 && "${texts[0]}" == "${texts[1]}" && "${texts[1]}" == "${texts[2]}" ]]; then
  ok "one version for all three programs"
else
  fail "the programs disagree on the version: ${texts[*]}"
fi

# --- a whole upgrade from the unpacked tree, against its own simulator.
kit="$work/kits/vx900-2026-12"
"$python" "$repo/scripts/make_tree.py" demo "$kit" >/dev/null
drive="$work/drive"
mkdir -p "$drive"
"$bin/vx900sim" --host 127.0.0.1 --cmd-port 0 --ftp-port 0 --drive "$drive" --max-seconds 600 \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do
  grep -q '^ready ' "$work/sim.out" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
ready="$(grep -m1 '^ready ' "$work/sim.out" || true)"
if [[ -z "$ready" ]]; then
  fail "the packaged simulator did not start: $(cat "$work/sim.err")"
  exit 1
fi
export VX900_CMD_PORT="$(sed -E 's/.* cmd=([0-9]+).*/\1/' <<<"$ready")"
export VX900_FTP_PORT="$(sed -E 's/.* ftp=([0-9]+).*/\1/' <<<"$ready")"
ok "packaged simulator on 127.0.0.1, ports $VX900_CMD_PORT and $VX900_FTP_PORT"

if "$bin/vxupgrade-cli" --ip 127.0.0.1 --dir "$kit" --signals KRN3 --yes >"$work/cli.out" 2>"$work/cli.err"; then
  ok "vxupgrade-cli --dir $kit upgraded the simulator"
else
  fail "vxupgrade-cli exit status $?:"
  cat "$work/cli.out" "$work/cli.err" >&2
fi

# Every file of MainFrame and of the ticked module arrived byte for byte; the
# unticked module came without its SIGNAL folder.
same_files() { # KIT_FOLDER DRIVE_FOLDER
  local from="$1" to="$2" count=0 rel
  while IFS= read -r -d '' rel; do
    cmp -s "$from/$rel" "$to/$rel" || { echo "differs or missing: $to/$rel" >&2; return 1; }
    count=$((count + 1))
  done < <(cd "$from" && find . -type f -print0)
  ((count > 0))
}
f0="$drive/F0:"
if same_files "$kit/MainFrame" "$f0/SYSTEM" && same_files "$kit/target/KRN3" "$f0/KRN3" \
   && cmp -s "$kit/target/LPS3/lps3.bin" "$f0/LPS3/lps3.bin" && [[ ! -e "$f0/LPS3/SIGNAL" ]] \
   && [[ -f "$f0/SYSTEM/MID1/NAME" ]]; then
  ok "the instrument's drive holds the kit (system files, KRN3 with signals, LPS3 without)"
else
  fail "the instrument's drive does not hold the kit"
fi

# The window, kit as its argument: it builds the catalogue and shows itself
# (the screenshot hook closes it once it is up).
shot="$work/window.png"
if QT_QPA_PLATFORM=offscreen VX_SCREENSHOT="$shot" timeout 60 "$bin/vxupgrade" "$kit" >/dev/null 2>"$work/window.err" \
   && [[ -s "$shot" ]]; then
  ok "vxupgrade $kit opens its window"
else
  fail "vxupgrade $kit did not open its window: $(cat "$work/window.err")"
fi

# --- man pages, desktop entry, icon.
for page in vxupgrade vxupgrade-cli vx900sim; do
  file="$root/usr/share/man/man1/$page.1.gz"
  if gzip -t "$file" 2>/dev/null && zcat "$file" | grep -q "^\.TH ${page^^} \"1\"" \
     && zcat "$file" | grep -q '^\.SH NAME'; then
    ok "man page $page(1)"
  else
    fail "man page $page(1) missing or malformed: $file"
  fi
done

desktop="$root/usr/share/applications/vxupgrade.desktop"
if desktop-file-validate "$desktop"; then
  ok "desktop entry passes desktop-file-validate"
else
  fail "desktop-file-validate: $desktop"
fi
exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
if [[ -x "$bin/$exec_name" && -f "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ]] \
   && "$python" -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' \
        "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg"; then
  ok "desktop entry starts $exec_name, icon $icon_name.svg is an SVG document"
else
  fail "desktop entry's program ($exec_name) or icon ($icon_name) is not in the package"
fi

# --- lintian: every tag shown, errors fail.
echo "lintian:"
if lintian --info --pedantic --fail-on error "$deb"; then
  ok "lintian reports no error"
else
  fail "lintian reports errors"
fi

if ((failures)); then
  echo "package-check: $failures check(s) failed" >&2
  exit 1
fi
echo "package-check: all checks passed"
