#!/usr/bin/env bash
# Pulling other machines over SSH: the time and bytes of a pull of an unchanged machine and of one after 10,000
# new readings there, against a bare `ssh DEST true` round trip measured in the same run; then the idle CPU of
# `tallyvane --headless` collecting three machines against the same collector with none. Each "machine" is a
# real sshd on 127.0.0.1 with a home of its own. A benchmark to run by hand, not a timed test.
#
#   bench/machines-pull.sh [PROGRAM] [SECONDS]   (defaults: build/release/tallyvane, 60)
set -euo pipefail
program=$(realpath "${1:-build/release/tallyvane}")
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-machines-bench-XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
[[ -x /usr/sbin/sshd ]] || { echo "machines-pull: needs /usr/sbin/sshd (openssh-server)" >&2; exit 1; }
[[ $(id -u) -ne 0 ]] || mkdir -p /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$work/hostkey"
ssh-keygen -q -t ed25519 -N '' -f "$work/userkey"
cp "$work/userkey.pub" "$work/authorized_keys"
mkdir -p "$work/bin"
ln -s "$program" "$work/bin/tallyvane"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# One sshd per machine, each session with that machine's own HOME and data folder.
for machine in m1 m2 m3; do
    port=$(free_port)
    mkdir -p "$work/$machine/data/Tallyvane"
    cat >"$work/$machine.sshd" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $work/hostkey
AuthorizedKeysFile $work/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile $work/$machine.pid
SetEnv HOME=$work/$machine XDG_DATA_HOME=$work/$machine/data PATH=$work/bin:/usr/bin:/bin
CONFIG
    /usr/sbin/sshd -D -f "$work/$machine.sshd" &
    pids+=($!)
    echo "[127.0.0.1]:$port $(cat "$work/hostkey.pub")" >>"$work/known_hosts"
    cat >>"$work/ssh_config" <<CONFIG
Host $machine
  HostName 127.0.0.1
  Port $port
  User $(id -un)
  IdentityFile $work/userkey
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  StrictHostKeyChecking yes
CONFIG
done
printf '#!/bin/sh\nexec ssh -F %s "$@"\n' "$work/ssh_config" >"$work/ssh"
chmod +x "$work/ssh"
sleep 0.5
export HOME="$work/local" XDG_DATA_HOME="$work/local/data" TALLYVANE_SSH="$work/ssh" PATH="$work/bin:/usr/bin:/bin"
mkdir -p "$HOME"
ms() { echo $((($(date +%s%N) - $1) / 1000000)); }

# Readings as the remote's own log holds them, one a minute.
readings() {
    python3 - "$1" "$2" <<'PY'
import json, sys, uuid, datetime
count, log = int(sys.argv[1]), sys.argv[2]
now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
with open(log, "a") as out:
    for i in range(count):
        at = now - datetime.timedelta(minutes=count - i)
        out.write(json.dumps({"id": str(uuid.uuid4()), "provider": "claude", "timestamp": at.isoformat().replace("+00:00", "Z"),
                              "windowKind": "sevenDay", "usedPercent": 20 + 60 * i / count, "remainingPercent": 80 - 60 * i / count,
                              "windowDurationMins": 10080, "source": "claude.statusline", "sourceConfidence": "high"}) + "\n")
PY
}

"$program" machines add m1 >/dev/null
"$program" machines pull >/dev/null
t=$(date +%s%N); "$TALLYVANE_SSH" -o BatchMode=yes m1 true; bare=$(ms "$t")
t=$(date +%s%N); out=$("$program" machines pull); unchanged=$(ms "$t")
unchangedBytes=$(sed -n 's/.*readings*, \([0-9]*\) bytes.*/\1/p' <<<"$out")
log="$work/m1/data/Tallyvane/snapshots.ndjson"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)
readings 10000 "$log"
added=$(($(stat -c %s "$log") - before))
t=$(date +%s%N); out=$("$program" machines pull); grown=$(ms "$t")
grownBytes=$(sed -n 's/.*readings*, \([0-9]*\) bytes.*/\1/p' <<<"$out")
echo "bare ssh round trip: $bare ms"
echo "unchanged pull: $unchanged ms, $unchangedBytes bytes ($(awk -v a="$unchanged" -v b="$bare" 'BEGIN { printf "%.2f", a / b }')x the bare round trip)"
echo "pull after 10,000 new readings: $grown ms, $grownBytes bytes ($(awk -v a="$grownBytes" -v b="$added" 'BEGIN { printf "%.2f", a / b }')x the $added bytes they added to the log; $out)"

# The collector at rest: with none, then with three machines (one pull round at its start, then idle).
ticks=$(getconf CLK_TCK)
idle() {
    "$program" --headless >/dev/null 2>&1 &
    local pid=$!
    sleep 5
    local c0 t0
    c0=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    t0=$(date +%s%N)
    sleep "$seconds"
    local c1
    c1=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    local rss
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v c=$((c1 - c0)) -v t="$ticks" -v ms="$(ms "$t0")" -v r="$rss" 'BEGIN { printf "%.3f %d", 100 * c / t / (ms / 1000), r / 1024 }'
}
"$program" machines remove m1 >/dev/null
read -r noneCpu noneRss <<<"$(idle)"
for machine in m1 m2 m3; do "$program" machines add "$machine" >/dev/null; done
read -r threeCpu threeRss <<<"$(idle)"
echo "collector idle over ${seconds}s: no machines ${noneCpu} % of a core (${noneRss} MB RSS), three machines ${threeCpu} % (${threeRss} MB)"
