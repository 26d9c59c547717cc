#!/usr/bin/env bash
# Shared by ./test.sh and ./demo.sh: installs the Debian packages the project
# needs when they are missing, then configures and builds incrementally.
# Usage: scripts/setup.sh [BUILD_DIR] [extra cmake args...]
# VX_EXTRA_PACKAGES names more Debian packages to install (scripts/fuzz.sh's
# compiler); VX_BUILD_TARGET builds that one target instead of everything.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$repo/build}"
shift || true

packages=(
  build-essential cmake
  qt6-base-dev
  # libcrypto: SHA-256 of the kit's files, Ed25519 for signed kits;
  # signify-openbsd signs the tests' kits.
  libssl-dev signify-openbsd
  python3 python3-pyftpdlib
  xvfb xauth
  # The window's Courier New, or Liberation Mono with the same metrics.
  fontconfig fonts-liberation
  curl
  # The Debian package and scripts/package-check.sh: man pages from --help,
  # dpkg-shlibdeps (which CPack runs on the programs it finds with file),
  # and the checks of the package.
  help2man dpkg-dev file lintian desktop-file-utils
  # contrib/ansible/test.sh drives the playbook with Debian's Ansible.
  ansible-core
  # The fleet page's test renders it in headless Chromium.
  chromium
)
# shellcheck disable=SC2206 # a space-separated list of package names
packages+=(${VX_EXTRA_PACKAGES:-})

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing missing Debian packages: ${missing[*]}"
  if [[ $(id -u) -eq 0 ]]; then
    sudo_cmd=()
  elif command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "error: these Debian packages are missing and I can neither run apt-get as root nor use sudo:" >&2
    echo "       ${missing[*]}" >&2
    echo "       Install them (apt-get install ${missing[*]}) and run me again." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! "${sudo_cmd[@]}" apt-get update -qq || ! "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "error: apt-get could not install: ${missing[*]}" >&2
    exit 1
  fi
fi

jobs="$(nproc 2>/dev/null || echo 2)"
if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
  cmake -S "$repo" -B "$build_dir" "$@"
fi
cmake --build "$build_dir" -j "$jobs" ${VX_BUILD_TARGET:+--target "$VX_BUILD_TARGET"}
