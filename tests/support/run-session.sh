#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus (no services can be activated) and a private Xvfb display,
# both ended when the command ends. The display number comes from Xvfb itself, so parallel runs never clash.
#   run-session.sh [--window-manager openbox] COMMAND...
# With --window-manager, that window manager runs on the display too (it must be ready before COMMAND starts).
set -euo pipefail
window_manager=""
if [[ "${1:-}" == "--window-manager" ]]; then
    window_manager="$2"
    shift 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-session-XXXXXX")
xvfb_pid=""
wm_pid=""
cleanup() {
    [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/services"
cat >"$work/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$work/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.05
done
if [[ ! -s "$work/display" ]]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb TALLYVANE_TEST_SESSION=1 # the tests keep this display (TestMain.cpp)
unset WAYLAND_DISPLAY XAUTHORITY
if [[ "$window_manager" == "openbox" ]]; then
    # Openbox runs its start-up command once it manages the screen.
    openbox --sm-disable --startup "touch $work/wm-ready" >"$work/wm.log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 200); do
        [[ -e "$work/wm-ready" ]] && break
        sleep 0.05
    done
    if [[ ! -e "$work/wm-ready" ]]; then
        echo "openbox did not start:" >&2
        cat "$work/wm.log" >&2
        exit 1
    fi
elif [[ -n "$window_manager" ]]; then
    echo "unknown window manager: $window_manager" >&2
    exit 2
fi
set +e
dbus-run-session --config-file="$work/session.conf" -- "$@"
status=$?
set -e
exit "$status"
