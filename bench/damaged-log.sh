#!/usr/bin/env bash
# Commands on a damaged snapshot log: 2,000 readings, then a 2 GB hole (what a crash can leave behind on some
# file systems), then one valid reading. Each command's time is given as a ratio against the same command on
# the log without the hole, measured in the same run. A benchmark to run by hand, not a timed test.
#
#   bench/damaged-log.sh [PROGRAM]   (default build/release/tallyvane)
set -euo pipefail
program=$(realpath "${1:-build/release/tallyvane}")
work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-damaged-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_DATA_HOME="$work/.local/share" XDG_CONFIG_HOME="$work/.config" LANG=C.UTF-8
data="$XDG_DATA_HOME/Tallyvane"
mkdir -p -m 0700 "$XDG_DATA_HOME" "$data"
log="$data/snapshots.ndjson"

python3 - "$work/clean.ndjson" <<'PY'
import json, sys, uuid, datetime
start = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(days=6)
with open(sys.argv[1], "w") as out:
    for i in range(2000):
        at = (start + datetime.timedelta(minutes=4 * i)).strftime("%Y-%m-%dT%H:%M:%SZ")
        used = (i % 75) + 5.0
        out.write(json.dumps({"id": str(uuid.uuid4()).upper(), "provider": "codex", "windowKind": "fiveHour",
                              "timestamp": at, "usedPercent": used, "remainingPercent": 100 - used,
                              "source": "codex.app-server", "sourceConfidence": "high"}) + "\n")
PY
tail -n 1 "$work/clean.ndjson" > "$work/last.ndjson"

seconds() { # the best of three runs of a command, in seconds
    local best=
    for _ in 1 2 3; do
        local t0 t1
        t0=$(date +%s%N)
        "$program" "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        local s=$(((t1 - t0) / 1000000))
        [[ -z $best || $s -lt $best ]] && best=$s
    done
    echo "$best"
}

commands=("status --json" "--dumpstore" "--export-csv $work/out.csv" "usage --json")
declare -A clean
cp "$work/clean.ndjson" "$log"
for c in "${commands[@]}"; do clean[$c]=$(seconds $c); done

cp "$work/clean.ndjson" "$log"
truncate -s +2G "$log"
cat "$work/last.ndjson" >> "$log"
printf '%-34s %10s %10s %8s\n' command "clean ms" "holed ms" ratio
for c in "${commands[@]}"; do
    holed=$(seconds $c)
    printf '%-34s %10d %10d %8.2f\n' "${c%% $work*}" "${clean[$c]}" "$holed" \
        "$(python3 -c "print($holed / max(1, ${clean[$c]}))")"
done
