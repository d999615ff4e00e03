#!/usr/bin/env bash
# `tallyvane top` in a real terminal: tmux runs it at 80x24 and 132x40 and the screen is read back.
#   top-in-tmux.sh PROGRAM [CAPTURE-FILE]   with a capture file, the 100x30 screen is written there too
set -uo pipefail
program=$1
capture_out=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-top-XXXXXX")
socket="$work/tmux.sock"
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
mkdir -p "$HOME"
tmux_() { tmux -S "$socket" -f /dev/null "$@"; }
trap 'tmux_ kill-server 2>/dev/null; sleep 0.2; rm -rf "$work" 2>/dev/null' EXIT
fail=0
problem() {
    echo "FAIL: $*"
    fail=1
}
session=none
sessions=0
screen() { tmux_ capture-pane -p -t "$session"; }
# Waits up to 5 s for the screen to contain (or, with -n, to lose) a fixed string.
await() {
    local negate=0
    [[ $1 == -n ]] && { negate=1; shift; }
    for _ in $(seq 50); do
        if screen | grep -qF -- "$1"; then ((negate)) || return 0; else ((negate)) && return 0; fi
        sleep 0.1
    done
    return 1
}
pane() { tmux_ display-message -p -t "$session" "#{$1}"; }
# The shell's terminal as it was: the normal screen, with the cursor shown.
restored() { [[ $(pane alternate_on) == 0 && $(pane cursor_flag) == 1 ]]; }
start() { # columns rows command...
    local columns=$1 rows=$2
    shift 2
    # The new session comes first: a server left without sessions would exit under the next command.
    local previous=$session
    session=s$((++sessions))
    tmux_ new-session -d -s "$session" -x "$columns" -y "$rows" "env PS1='prompt\$ ' bash --norc --noprofile"
    tmux_ kill-session -t "$previous" 2>/dev/null
    tmux_ send-keys -t "$session" "$*" Enter
}

# Piped: exit status 2 and the message.
message=$("$program" top --demo 2>&1 </dev/null | cat)
status=${PIPESTATUS[0]}
[[ $status -eq 2 ]] || problem "top | cat exited $status"
[[ $message == "tallyvane: top needs a terminal; use tallyvane status --json --watch for scripts" ]] ||
    problem "top | cat said: $message"

# A terminal that cannot move the cursor (TERM dumb or unset): refused the same way, before the screen.
for term in TERM=dumb "-u TERM"; do
    start 80 24 "env $term $program top --demo; echo \"exit=\$?\""
    await "exit=2" || problem "env $term top did not end with status 2: $(screen)"
    screen | grep -qF "tallyvane: top needs a terminal that moves the cursor (TERM is" ||
        problem "env $term top said: $(screen)"
done

# The numbers `status` gives at the same moment, as the view prints them ("42% left").
percents=$("$program" status --demo --json | python3 -c '
import json, sys
for f in json.load(sys.stdin)["forecasts"]:
    left = f["currentRemainingPercent"]
    print("%d%% left" % int(left + 0.5) if left >= 0 else "0% left")')
[[ -n $percents ]] || problem "status --demo --json gave no forecasts"

start 80 24 "$program" top --demo
await "q quit" || problem "no key help at 80x24: $(screen)"
for name in Codex "Claude Code"; do screen | grep -qF "$name" || problem "no $name at 80x24"; done
while read -r percent; do
    screen | grep -qF "$percent" || problem "no '$percent' at 80x24: $(screen)"
done <<<"$percents"

# Tab moves the focus marker to the other provider, b changes the basis.
before=$(screen | grep -F "▸" | head -1)
tmux_ send-keys -t "$session" Tab
await -n "$before" || problem "Tab did not move the focus from '$before'"
basis=$(screen | grep -o "b basis: [A-Za-z0-9]*")
tmux_ send-keys -t "$session" b
await -n "$basis" || problem "b did not change '$basis'"

# A resize redraws at once, to the new width.
tmux_ resize-window -t "$session" -x 132 -y 40
for _ in $(seq 50); do
    [[ $(screen | awk '{ if (length($0) > n) n = length($0) } END { print n }') -gt 100 ]] && break
    sleep 0.1
done
[[ $(screen | grep -cP "[\x{2801}-\x{28FF}]") -gt 3 ]] || problem "no chart at 132x40: $(screen)"
screen | grep -q "q quit" || problem "no key help at 132x40"
screen | awk 'length($0) > 100 { found = 1 } END { exit !found }' || problem "not redrawn at 132 columns"

# q ends with status 0 and leaves a working prompt.
# (Keys typed while the view runs are the view's: the prompt is used only once the view is gone.)
tmux_ send-keys -t "$session" q
await -n "q quit" || problem "q did not end the view"
tmux_ send-keys -t "$session" 'echo "exit=$?"' Enter
await "exit=0" || problem "q did not exit 0: $(screen)"

# ASCII only in the C locale.
start 80 24 LANG=C LC_ALL=C "$program" top --demo
await "q quit" || problem "no screen in the C locale"
screen | LC_ALL=C grep -q '[^[:print:][:space:]]' && problem "non-ASCII in the C locale: $(screen)"
tmux_ send-keys -t "$session" Escape
await -n "q quit" || problem "Esc did not end the view"
tmux_ send-keys -t "$session" 'echo "exit=$?"' Enter
await "exit=0" || problem "Esc did not exit 0"

# SIGTERM and Ctrl+\ (SIGQUIT) restore the terminal too: the normal screen, the cursor, and a prompt that
# echoes what is typed again.
for ending in TERM 'C-\'; do
    start 80 24 "$program" top --demo
    await "q quit" || problem "no screen before $ending"
    if [[ $ending == TERM ]]; then
        viewer=$(pgrep -P "$(pane pane_pid)")
        [[ -n $viewer ]] && kill -TERM "$viewer"
    else
        tmux_ send-keys -t "$session" "$ending"
    fi
    await -n "q quit" || problem "$ending did not end the view"
    tmux_ send-keys -t "$session" 'echo "after=$?"' Enter
    await 'echo "after=$?"' || problem "no echo after $ending: $(screen)"
    await "after=0" || problem "$ending did not end the view cleanly: $(screen)"
    restored || problem "$ending left the alternate screen on or the cursor hidden"
done

# Ctrl+Z gives the shell its terminal back before the view stops; fg brings the view back whole and in raw
# mode (a Tab moves the focus without an Enter).
start 80 24 "$program" top --demo
await "q quit" || problem "no screen before Ctrl+Z"
tmux_ send-keys -t "$session" C-z
await "Stopped" || problem "Ctrl+Z did not stop the view: $(screen)"
restored || problem "Ctrl+Z left the alternate screen on or the cursor hidden: $(screen)"
tmux_ send-keys -t "$session" fg Enter
await -n "Stopped" || problem "fg did not bring the view back: $(screen)"
await "q quit" || problem "fg did not redraw the whole screen: $(screen)"
[[ $(pane alternate_on) == 1 ]] || problem "fg did not go back to the alternate screen"
before=$(screen | grep -F "▸" | head -1)
tmux_ send-keys -t "$session" Tab
await -n "$before" || problem "after fg, Tab did not move the focus (not raw again?)"

# Ctrl+L draws every row again, also those that did not change (a clear sent to the terminal behind the
# view's back stands for a screen messed up by another program).
printf '\033[2J' >"$(pane pane_tty)"
await -n "q quit" || problem "the screen was not cleared"
tmux_ send-keys -t "$session" C-l
await "q quit" || problem "Ctrl+L did not redraw the whole screen: $(screen)"

# Esc in the help closes the help; the view goes on.
tmux_ send-keys -t "$session" "?"
await "show or hide this help" || problem "? did not show the help: $(screen)"
tmux_ send-keys -t "$session" Escape
await -n "show or hide this help" || problem "Esc did not close the help: $(screen)"
screen | grep -qF "q quit" || problem "Esc in the help ended the view: $(screen)"
tmux_ send-keys -t "$session" q
await "prompt\$" || problem "q did not end the view after the help: $(screen)"

# A live log: a reading appended while the view runs shows within 2 s.
reading() { # used-percent
    python3 -c '
import datetime, json, sys, uuid
now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
iso = lambda t: t.strftime("%Y-%m-%dT%H:%M:%SZ")
print(json.dumps({"id": str(uuid.uuid4()).upper(), "provider": "codex", "timestamp": iso(now),
    "windowKind": "fiveHour", "usedPercent": float(sys.argv[1]), "remainingPercent": 100 - float(sys.argv[1]),
    "resetAt": iso(now + datetime.timedelta(hours=2)), "windowDurationMins": 300,
    "source": "codex.app-server", "sourceConfidence": "high"}))' "$1"
}
mkdir -p "$XDG_DATA_HOME/Tallyvane"
reading 30 >>"$XDG_DATA_HOME/Tallyvane/snapshots.ndjson"
start 100 30 "$program" top
await "70% left" || problem "the logged reading is not shown: $(screen)"
sleep 1
reading 57 >>"$XDG_DATA_HOME/Tallyvane/snapshots.ndjson"
shown=0
for _ in $(seq 20); do
    screen | grep -qF "43% left" && { shown=1; break; }
    sleep 0.1
done
((shown)) || problem "a reading appended to the log did not show within 2 s: $(screen)"
tmux_ send-keys -t "$session" q

# One collector per user: top collects while nobody else does, takes over when the holder exits, and
# --no-collect only reads. `flock -n` fails while someone holds the lock.
lock="$XDG_DATA_HOME/Tallyvane/collector.lock"
flock "$lock" sleep 2 &
holder=$!
sleep 0.3
start 100 30 "$program" top
await "43% left" || problem "top did not start beside another collector: $(screen)"
wait "$holder"
taken=0
# top asks again every 5 s; a loaded machine (the whole suite at once) may take a few seconds more.
for _ in $(seq 200); do
    flock -n "$lock" true || { taken=1; break; }
    sleep 0.1
done
((taken)) || problem "top did not take the collector lock within 20 s of its holder exiting"
tmux_ send-keys -t "$session" q
await "prompt\$" || problem "top did not end: $(screen)"
# It only reads, yet closes what an older version left open.
chmod 0755 "$XDG_DATA_HOME/Tallyvane" && chmod 0644 "$XDG_DATA_HOME/Tallyvane/snapshots.ndjson"
start 100 30 "$program" top --no-collect
await "43% left" || problem "top --no-collect did not start: $(screen)"
flock -n "$lock" true || problem "top --no-collect took the collector lock"
modes=$(stat -c %a "$XDG_DATA_HOME/Tallyvane" "$XDG_DATA_HOME/Tallyvane/snapshots.ndjson" | tr '\n' ' ')
[[ $modes == "700 600 " ]] || problem "top --no-collect left the data folder and log at $modes"
tmux_ send-keys -t "$session" q

# The README's screen: the demo at 100x30.
if [[ -n $capture_out ]]; then
    start 100 30 "$program" top --demo
    await "q quit" && sleep 0.5
    screen >"$capture_out"
    tmux_ send-keys -t "$session" q
fi
exit $fail
