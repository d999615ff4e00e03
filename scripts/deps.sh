#!/usr/bin/env bash
# Installs the Debian packages Tallyvane needs to build, test and run, when one is missing, on Debian 12 or 13.
# Idempotent and quiet when everything is there; 'apt-get update' runs only when something must be installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libxcb1-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev libsimdjson-dev
    clang clang-format clang-tidy
    xvfb xauth xdotool x11-utils openbox dbus dbus-bin desktop-file-utils python3 libsecret-tools time dunst tzdata locales
    dpkg-dev lintian appstream man-db zsh file tmux procps openssh-client openssh-server
)

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
updated=0

installed() {
    [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == "install ok installed" ]]
}

# Installs the packages named that are missing; one this release does not have is named, and the run fails.
install_missing() {
    local missing=() unknown=() package
    for package in "$@"; do
        installed "$package" || missing+=("$package")
    done
    ((${#missing[@]} > 0)) || return 0
    if ((updated == 0)); then
        $sudo apt-get update -qq
        updated=1
    fi
    for package in "${missing[@]}"; do
        [[ -n $(apt-cache policy "$package" 2>/dev/null | awk '/Candidate:/ && $2 != "(none)" {print $2}') ]] ||
            unknown+=("$package")
    done
    if ((${#unknown[@]} > 0)); then
        echo "deps: this system's package sources have no ${unknown[*]}; Tallyvane builds on Debian 12 and 13" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"
# npm ships with some Node.js builds and separately with Debian's; either serves.
command -v npm >/dev/null 2>&1 || install_missing npm
# The sanitizer and fuzzer runtime that belongs to the clang this release installs (14 on Debian 12, 19 on 13).
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-$clang_major-dev"

# The formatting tests run under a German locale (decimal comma), which a fresh system has not generated.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
    echo "Generating the de_DE.UTF-8 locale"
    $sudo sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
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

# The pinned Claude Code the bridge tests run as the status line's real peer (a native binary), under tools/.
claude_version="2.1.332"
claude_root="$(cd "$(dirname "$0")/.." && pwd)/tools/claude"
claude_package="$claude_root/node_modules/@anthropic-ai/claude-code/package.json"
if ! grep -q "\"version\": \"$claude_version\"" "$claude_package" 2>/dev/null; then
    echo "Installing @anthropic-ai/claude-code@$claude_version into tools/claude"
    mkdir -p "$claude_root"
    npm install --prefix "$claude_root" --no-audit --no-fund --loglevel=error "@anthropic-ai/claude-code@$claude_version"
fi
