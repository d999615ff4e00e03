#!/usr/bin/env bash
# Measures the tray application on demo data: time from start to its tray item registering with a
# StatusNotifierWatcher, then CPU time and resident memory while it sits idle. Runs on a private bus and
# display (tests/support/run-session.sh) with a throwaway home.
#   scripts/measure-tray.sh [build-folder] [idle-seconds] [panel]
# With "panel" the panel is opened before the idle window (it then redraws on every state change).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
seconds=${2:-300}
panel=${3:-}
if [[ -z "${TALLYVANE_MEASURE_INSIDE:-}" ]]; then
    export TALLYVANE_MEASURE_INSIDE=1
    exec "$root/tests/support/run-session.sh" "$0" "$build" "$seconds" "$panel"
fi

home=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-measure-XXXXXX")
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
       XDG_STATE_HOME=$home/state XDG_RUNTIME_DIR=$home/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

monotonic_ms() { python3 -c 'import time; print(int(time.monotonic() * 1000))'; }

"$build/tests/platform/tallyvane_fake_desktop_services" --watcher >"$home/watcher.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$home/watcher.out" 2>/dev/null && break; sleep 0.05; done

start=$(monotonic_ms)
"$build/tallyvane" --demo >"$home/app.out" 2>&1 &
app=$!
pids+=("$app")
for _ in $(seq 200); do grep -q '^registered' "$home/watcher.out" && break; sleep 0.02; done
registered=$(awk '/^registered/ {print $NF; exit}' "$home/watcher.out")
[[ -n "$registered" ]] || { echo "the tray item never registered"; exit 1; }
echo "start to tray item registered: $((registered - start)) ms"

if [[ "$panel" == panel ]]; then
    "$build/tallyvane" --toggle
    echo "panel opened"
fi

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
# Let the start-up settle before the idle window opens.
sleep 5
before=$(cpu)
sleep "$seconds"
after=$(cpu)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$app/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$app/status")
python3 - "$before" "$after" "$ticks" "$seconds" "$rss" "$hwm" <<'PY'
import sys
before, after, ticks, seconds, rss, hwm = map(float, sys.argv[1:])
used = (after - before) / ticks
print(f"idle CPU over {seconds:.0f} s: {used:.2f} s of CPU = {100 * used / seconds:.3f} % of one core")
print(f"resident memory: {rss / 1024:.1f} MB now, {hwm / 1024:.1f} MB peak")
PY
