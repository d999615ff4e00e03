#!/usr/bin/env bash
# Installs the Debian packages Tallyvane needs to build, test and run, when one is missing.
# Idempotent and quiet when everything is there; 'apt-get update' runs only when something must be installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libxcb1-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang clang-format libclang-rt-14-dev
    xvfb xauth xdotool dbus dbus-bin desktop-file-utils python3 libsecret-tools time
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
# npm ships with some Node.js builds and separately with Debian's; either serves.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The pinned Codex CLI the provider tests talk to (a real `codex app-server`), kept out of git under tools/.
codex_version="0.171.0"
codex_root="$(cd "$(dirname "$0")/.." && pwd)/tools/codex"
codex_package="$codex_root/node_modules/@openai/codex/package.json"
if ! grep -q "\"version\": \"$codex_version\"" "$codex_package" 2>/dev/null; then
    echo "Installing @openai/codex@$codex_version into tools/codex"
    mkdir -p "$codex_root"
    npm install --prefix "$codex_root" --no-audit --no-fund --loglevel=error "@openai/codex@$codex_version"
fi
