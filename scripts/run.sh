#!/usr/bin/env bash
# Starts the Tallyvane tray application; with nothing connected yet, on demo data. Without a display it says so
# and prints a forecast report on demo data instead.
set -euo pipefail
binary=${1:-build/dev/tallyvane}
shift || true

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so no tray icon."
    echo "This is what it would show, on demo data:  $binary status --demo"
    echo
    exec "$binary" status --demo
fi

# Nothing connected yet: no snapshot has ever been stored and no Codex to start. (With Codex installed the
# app starts its provider, which fills the log; demo mode would keep it from ever starting.)
codex_installed() {
    command -v codex >/dev/null 2>&1 && return 0
    local folder
    for folder in "$HOME/.local/bin" "$HOME/.npm-global/bin" "$HOME"/.nvm/versions/node/*/bin; do
        [[ -x "$folder/codex" ]] && return 0
    done
    return 1
}
log="${XDG_DATA_HOME:-$HOME/.local/share}/Tallyvane/snapshots.ndjson"
args=("$@")
if [[ ! -s "$log" ]] && ! codex_installed; then
    echo "Nothing connected yet: starting on demo data (tallyvane --demo)."
    args+=(--demo)
fi
echo "Tallyvane is in the system tray; Ctrl+Alt+G or a click on the icon opens the panel. Quit from the panel."
exec "$binary" "${args[@]}"
