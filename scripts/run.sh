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

# Nothing connected yet: no snapshot has ever been stored.
log="${XDG_DATA_HOME:-$HOME/.local/share}/Tallyvane/snapshots.ndjson"
args=("$@")
if [[ ! -s "$log" ]]; then
    echo "Nothing connected yet: starting on demo data (tallyvane --demo)."
    args+=(--demo)
fi
echo "Tallyvane is in the system tray; Ctrl+Alt+G or a click on the icon opens the panel. Quit from the panel."
exec "$binary" "${args[@]}"
