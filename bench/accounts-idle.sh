#!/usr/bin/env bash
# `tallyvane --headless` collecting several Claude accounts: its own CPU share and memory over a quiet stretch
# (default 60 s), with one account and with five, in the same run. A benchmark to run by hand, not a test.
#
#   bench/accounts-idle.sh [PROGRAM] [SECONDS] [ACCOUNTS]   (defaults: build/release/tallyvane, 60, 5)
#
# Each run has a scratch home: ~/.claude and ~/.claude-2 … each with a fake credential and an account id of
# its own, Codex switched off, and the OAuth usage endpoint on a loopback stand-in (python3, answering every
# token as the tests' LoopbackHttpServer does). CPU is (utime + stime) of Tallyvane's own process over wall
# time from /proc, children apart; PSS and RSS are read from smaps_rollup at the end of the stretch.
set -euo pipefail
program=$(realpath "${1:-build/release/tallyvane}")
seconds=${2:-60}
accounts=${3:-5}
ticks=$(getconf CLK_TCK)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-accounts-bench-XXXXXX")
server_pid=
trap '[[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; rm -rf "$scratch"' EXIT

# The usage endpoint: the same answer for every bearer, five hours ahead.
python3 - "$scratch/port" <<'PY' &
import http.server, json, sys, datetime
resets = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(hours=5)).strftime("%Y-%m-%dT%H:%M:%SZ")
body = json.dumps({"five_hour": {"utilization": 20, "resets_at": resets},
                   "seven_day": {"utilization": 35, "resets_at": resets}}).encode()
class Usage(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200 if self.path.startswith("/api/oauth/usage") else 404)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Usage)
open(sys.argv[1], "w").write(str(server.server_address[1]))
server.serve_forever()
PY
server_pid=$!
until [[ -s $scratch/port ]]; do sleep 0.05; done
port=$(cat "$scratch/port")

# One run: prints "cpu% pss_kB rss_kB requests".
measure() {
    local count=$1 home="$scratch/home-$1"
    local expires=$((($(date +%s) + 86400) * 1000))
    for i in $(seq "$count"); do
        local folder="$home/.claude" config="$home/.claude.json"
        if ((i > 1)); then
            folder="$home/.claude-$i"
            config="$folder/.claude.json"
        fi
        mkdir -p "$folder"
        printf '{"claudeAiOauth":{"accessToken":"sk-ant-oat01-bench-%d","refreshToken":"sk-ant-ort01-bench-%d","expiresAt":%d,"scopes":["user:inference","user:profile"]}}' \
            "$i" "$i" "$expires" >"$folder/.credentials.json"
        chmod 600 "$folder/.credentials.json"
        printf '{"oauthAccount":{"accountUuid":"bench-account-%d"}}' "$i" >"$config"
    done
    mkdir -p "$home/data/Tallyvane"
    printf '{"enabledProviders":["claude"],"hasOnboarded":true}' >"$home/data/Tallyvane/settings.json"
    chmod 700 "$home/data/Tallyvane" && chmod 600 "$home/data/Tallyvane/settings.json"
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" \
        XDG_CACHE_HOME="$home/cache" TALLYVANE_CLAUDE_API_URL="http://127.0.0.1:$port" \
        "$program" --headless >/dev/null 2>&1 &
    local pid=$!
    # Past the start-up (settings, first cycle, first fetches): the quiet stretch is what is measured.
    sleep 5
    local before t0 after elapsed
    before=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    t0=$(date +%s%N)
    sleep "$seconds"
    after=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    elapsed=$((($(date +%s%N) - t0) / 1000000))
    local pss rss
    pss=$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup")
    rss=$(awk '/^Rss:/ { print $2 }' "/proc/$pid/smaps_rollup")
    kill -TERM "$pid"
    wait "$pid" || true
    local readings
    readings=$(grep -c '"source":"claude.oauth"' "$home/data/Tallyvane/snapshots.ndjson" 2>/dev/null || true)
    awk -v c=$((after - before)) -v t="$ticks" -v ms="$elapsed" \
        'BEGIN { printf "%.3f", 100 * c / t / (ms / 1000) }'
    echo " $pss $rss ${readings:-0}"
}

read -r cpu1 pss1 rss1 got1 < <(measure 1)
read -r cpuN pssN rssN gotN < <(measure "$accounts")
printf 'one account:   %.3f %% of a core, PSS %d MB, RSS %d MB (%d readings stored)\n' \
    "$cpu1" $((pss1 / 1024)) $((rss1 / 1024)) "$got1"
printf '%d accounts:    %.3f %% of a core, PSS %d MB, RSS %d MB (%d readings stored)\n' \
    "$accounts" "$cpuN" $((pssN / 1024)) $((rssN / 1024)) "$gotN"
awk -v a="$cpuN" -v b="$cpu1" -v p="$pssN" -v q="$pss1" -v n="$accounts" \
    'BEGIN { printf "%d accounts against one: CPU %.2fx, PSS %.2fx (over %s s)\n", n, (b > 0 ? a / b : 0), p / q, "'"$seconds"'" }'
