#!/usr/bin/env bash
# Measures `tallyvane status --json` over a generated snapshot log: peak resident memory and wall time
# (GNU time -v). The log holds Codex and Claude lines in the form the store writes, 30 s apart.
#   scripts/measure-store.sh [build-folder] [lines]        (default: build/release, 350000 lines)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
lines=${2:-350000}
home=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-store-XXXXXX")
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/data/Tallyvane"
python3 - "$home/data/Tallyvane/snapshots.ndjson" "$lines" <<'PY'
import datetime, json, random, sys, uuid
random.seed(7)
path, count = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2026, 1, 1, tzinfo=datetime.timezone.utc)
iso = lambda t: t.strftime("%Y-%m-%dT%H:%M:%SZ")
with open(path, "w") as out:
    for i in range(count):
        t = start + datetime.timedelta(seconds=i * 30)
        codex, five = i % 2 == 0, (i // 2) % 2 == 0
        used = round(random.random() * 100, 2)
        record = {"id": str(uuid.UUID(int=random.getrandbits(128))).upper(),
                  "provider": "codex" if codex else "claude", "timestamp": iso(t),
                  "windowKind": "fiveHour" if five else "sevenDay",
                  "usedPercent": used, "remainingPercent": round(100 - used, 2),
                  "resetAt": iso(t + datetime.timedelta(seconds=random.randint(60, 18000 if five else 604800)))}
        if codex:
            record.update(limitId="codex", effortLevel="medium", planType="plus", source="codex.app-server")
        else:
            record.update(modelDisplayName="Opus 4.5", planType="max", source="claude.statusline")
        record["sourceConfidence"] = "high"
        out.write(json.dumps(record, separators=(",", ":"), sort_keys=True) + "\n")
PY
echo "log: $lines lines, $(du -m "$home/data/Tallyvane/snapshots.ndjson" | cut -f1) MB"
HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
    /usr/bin/time -v "$build/tallyvane" status --json >/dev/null 2>"$home/time.txt"
grep -E "Maximum resident set size|Elapsed \(wall clock\)|User time|System time" "$home/time.txt" | sed 's/^[[:space:]]*//'
