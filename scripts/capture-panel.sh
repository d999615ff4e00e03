#!/usr/bin/env bash
# Takes the panel screenshot that the AppStream data shows (docs/screenshots/panel.png): the preview window on
# demo data, without the "Demo data" label, on a private bus and display (tests/support/run-session.sh).
#   scripts/capture-panel.sh [build-folder] [output.png]
# Needs ImageMagick's `import` (apt install imagemagick).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
output=${2:-$root/docs/screenshots/panel.png}
command -v import >/dev/null || { echo "needs ImageMagick's import: apt install imagemagick" >&2; exit 1; }
if [[ -z "${TALLYVANE_CAPTURE_INSIDE:-}" ]]; then
    export TALLYVANE_CAPTURE_INSIDE=1
    exec "$root/tests/support/run-session.sh" "$0" "$build" "$output"
fi

home=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-capture-XXXXXX")
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
       XDG_RUNTIME_DIR=$home/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
app=""
cleanup() {
    [[ -n "$app" ]] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

# Past the first-launch welcome screen, straight to the cards.
mkdir -p "$XDG_DATA_HOME/Tallyvane"
echo '{"hasOnboarded": true}' >"$XDG_DATA_HOME/Tallyvane/settings.json"
"$build/tallyvane" --preview --demo --capture >"$home/app.out" 2>&1 &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tallyvane \(preview\)$' | head -n1)
# The first forecast cycle runs once the window is up; give it a moment to paint.
sleep 2
mkdir -p "$(dirname "$output")"
import -window "$window" -strip "png:$output"
echo "wrote $output ($(identify -format '%wx%h' "$output"))"
