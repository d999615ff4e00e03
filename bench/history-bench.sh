#!/usr/bin/env bash
# The transcript-scan benchmark: a genbig.py corpus (1,000 Claude transcripts, 1.5 M lines, ~2 GB) in a
# scratch folder outside the repository, read with a warm page cache by cat, by `tallyvane usage` (empty
# cache, then no change, then 1 MB appended, then the rolling count) and by ccusage, all in one run.
#
#   bench/history-bench.sh [BUILD_DIR] [SCRATCH]     (defaults: build/release, /tmp/tallyvane-bench)
#
# Needs python3, /usr/bin/time and npm (ccusage 20.0.24 is installed into SCRATCH/ccusage). Set
# KEEP_CORPUS=1 to keep the corpus for another run; it is deleted otherwise. SKIP_CCUSAGE=1 leaves ccusage out.
# cat and the first scan alternate ROUNDS times (default 5): a shared machine's speed drifts, so the ratio
# of their medians is the figure to quote, with each round's own ratio shown beside it.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
scratch=${2:-/tmp/tallyvane-bench}
repo=$(cd "$(dirname "$0")/.." && pwd)
genbig=${GENBIG:-$repo/../shared/bench/genbig.py}
files=${FILES:-1000}
lines=${LINES_PER_FILE:-1500}
export TZ=${TZ:-Europe/Berlin}

mkdir -p "$scratch"
home=$scratch/home
if [[ ! -d $home/.claude/projects ]]; then
    need=$((files * lines * 1400 / 1024))
    avail=$(df -Pk "$scratch" | awk 'NR==2 {print $4}')
    if ((avail < need + 1048576)); then
        echo "not enough space in $scratch: ${avail} KiB free, about ${need} KiB needed" >&2
        exit 1
    fi
    echo "generating $files transcripts of $lines lines into $home"
    python3 "$genbig" "$home" "$files" "$lines" >"$scratch/expected.json"
fi
if [[ -z ${SKIP_CCUSAGE:-} && ! -x $scratch/ccusage/node_modules/.bin/ccusage ]]; then
    npm install --prefix "$scratch/ccusage" --no-audit --no-fund --loglevel=error ccusage@20.0.24 >/dev/null
fi

mapfile -t transcripts < <(find "$home/.claude/projects" -name '*.jsonl' | sort)
bytes=$(cat "${transcripts[@]}" | wc -c)
env_run=(env HOME="$home" XDG_DATA_HOME="$scratch/data")
cache=$scratch/data/Tallyvane/usage-history-cache.json
timed() { # label, command...: wall seconds and peak RSS (KiB) from /usr/bin/time; stdout kept as "label.out"
    local label=$1 out=$scratch/$1.out
    shift
    [[ $label != cat ]] || out=/dev/null # cat's yardstick is reading into the null device, not writing 2 GB back
    /usr/bin/time -f "%e %M %U %S" -o "$scratch/time.txt" "$@" >"$out" 2>"$scratch/$label.err" || {
        cat "$scratch/$label.err" >&2
        return 1
    }
    read -r wall rss user sys <"$scratch/time.txt"
    printf '%-34s %8.3f s %8d MB %8.2f s %8.2f s\n' "$label" "$wall" $((rss / 1024)) "$user" "$sys"
}

echo "load before: $(uptime)"
echo "corpus: ${#transcripts[@]} files, $((bytes / 1048576)) MiB, TZ=$TZ"
cat "${transcripts[@]}" >/dev/null # warm the page cache
cat "${transcripts[@]}" >/dev/null
printf '%-34s %10s %11s %10s %10s\n' "" "wall" "peak RSS" "user CPU" "sys CPU"
cats=() scans=()
for ((round = 1; round <= ${ROUNDS:-5}; round++)); do
    timed cat cat "${transcripts[@]}"
    cats+=("$wall")
    rm -f "$cache"
    timed "tallyvane usage (empty cache)" "${env_run[@]}" "$build/tallyvane" usage --json
    scans+=("$wall")
done
python3 - "${cats[*]}" "${scans[*]}" <<'PY'
import statistics, sys
cats, scans = ([float(v) for v in arg.split()] for arg in sys.argv[1:3])
rounds = " ".join(f"{s / c:.2f}" for c, s in zip(cats, scans))
print(f"first scan / cat: {statistics.median(scans) / statistics.median(cats):.2f} (medians of "
      f"{len(cats)} rounds; each round: {rounds})")
PY
timed "tallyvane usage (no change)" "${env_run[@]}" "$build/tallyvane" usage --json
if [[ -z ${SKIP_CCUSAGE:-} ]]; then
    timed "ccusage daily" "${env_run[@]}" "$scratch/ccusage/node_modules/.bin/ccusage" daily --json --offline --mode calculate
    cp "$scratch/ccusage daily.out" "$scratch/ccusage.json"
fi
cp "$scratch/tallyvane usage (empty cache).out" "$scratch/tallyvane.json"
rm -f "$cache"
"${env_run[@]}" "$build/tallyvane" --usagetest | head -1
"${env_run[@]}" "$build/bench/history_bench" "$home" "$cache"
echo "load after: $(uptime)"
[[ -n ${SKIP_CCUSAGE:-} ]] || python3 - "$scratch/tallyvane.json" "$scratch/ccusage.json" <<'PY'
import json, sys
ours = {d["date"]: d for d in json.load(open(sys.argv[1]))["days"] if d["provider"] == "claude"}
theirs = {d["period"]: d for d in json.load(open(sys.argv[2]))["daily"]}
bad = [day for day in sorted(set(ours) | set(theirs))
       if day not in ours or day not in theirs
       or ours[day]["tokens"] != theirs[day]["totalTokens"]
       or round(ours[day]["costUSD"], 2) != round(theirs[day]["totalCost"], 2)]
tokens = sum(d["tokens"] for d in ours.values())
print(f"ccusage agreement: {len(ours)} days, {tokens} tokens, "
      f"{'identical to the token and the cent' if not bad else 'DIFFERENT on ' + ', '.join(bad)}")
sys.exit(1 if bad else 0)
PY
if [[ -z ${KEEP_CORPUS:-} ]]; then
    rm -rf "$home" "$scratch/data"
fi
