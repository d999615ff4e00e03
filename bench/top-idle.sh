#!/usr/bin/env bash
# `tallyvane top` at rest: the time to its first full frame, then its CPU share and resident memory over a
# quiet stretch (default 300 s), in tmux at 100x30. A benchmark to run by hand, not a timed test.
#
#   bench/top-idle.sh [PROGRAM] [SECONDS] [-- TOP-ARGUMENTS...]   (defaults: build/release/tallyvane, 300, --demo)
#
# Without TOP-ARGUMENTS it shows demo data in a scratch home; with them (e.g. `--`, nothing) it reads the
# user's real data folder. CPU is (utime + stime) over wall time from /proc; RSS is the largest VmRSS seen,
# sampled each second. The first frame is found by polling the pane every 10 ms, so it is exact to ~10 ms.
set -euo pipefail
program=$(realpath "${1:-build/release/tallyvane}")
seconds=${2:-300}
shift $(($# > 2 ? 2 : $#))
arguments=(--demo)
if [[ ${1:-} == -- ]]; then
    shift
    arguments=("$@")
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-top-bench-XXXXXX")
    export HOME="$work" XDG_DATA_HOME="$work/.local/share" XDG_CONFIG_HOME="$work/.config"
fi
socket=$(mktemp -u "${TMPDIR:-/tmp}/tallyvane-top-bench-tmux-XXXXXX")
tmux_() { tmux -S "$socket" -f /dev/null "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true; [[ -n ${work:-} ]] && rm -rf "$work"' EXIT
export LANG=C.UTF-8 TERM=xterm-256color
ticks=$(getconf CLK_TCK)

start=$(date +%s%N)
tmux_ new-session -d -s bench -x 100 -y 30 "exec $(printf '%q ' "$program" top "${arguments[@]}")"
until tmux_ capture-pane -p -t bench 2>/dev/null | grep -q "q quit"; do sleep 0.01; done
first=$((($(date +%s%N) - start) / 1000000))
pid=$(tmux_ display-message -p -t bench '#{pane_pid}')
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }

before=$(cpu)
t0=$(date +%s%N)
peak=0
for _ in $(seq "$seconds"); do
    sleep 1
    now=$(rss)
    ((now > peak)) && peak=$now
done
after=$(cpu)
elapsed=$((($(date +%s%N) - t0) / 1000000))
tmux_ send-keys -t bench q

echo "first full frame: ${first} ms"
awk -v c=$((after - before)) -v t="$ticks" -v ms="$elapsed" -v s="$seconds" \
    'BEGIN { printf "idle CPU over %d s: %.3f %% of a core (%d ticks)\n", s, 100 * c / t / (ms / 1000), c }'
echo "peak RSS: $((peak / 1024)) MB ($peak kB)"
