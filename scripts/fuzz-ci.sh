#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, clang) and fuzzes each for FUZZ_SECONDS (30) with its
# dictionary, from a scratch copy of its seed corpus, two at a time; fails on any crash, leak or hang and
# names the input that caused it (kept in build/fuzz/crashes; replay it with the target, then add it to
# tests/data/fuzz/<corpus>/ with the mend).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
# target, corpus under tests/data/fuzz, dictionary under fuzz/ (- for none)
targets=(
    "fuzz_decode_lines decode_lines decode_lines.dict"
    "fuzz_settings settings settings.dict"
    "fuzz_codex_lines codex_lines -"
    "fuzz_claude_usage claude_usage claude.dict"
    "fuzz_claude_token claude_token claude.dict"
    "fuzz_claude_credential claude_credential claude.dict"
    "fuzz_transcript_scan transcript_scan claude.dict"
    "fuzz_machine_feed machine_feed -"
)
names=()
for entry in "${targets[@]}"; do names+=("${entry%% *}"); done

start=$SECONDS
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-$(nproc)}" --target "${names[@]}"
echo "fuzz-ci: built ${#names[@]} targets in $((SECONDS - start)) s"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
crashes=build/fuzz/crashes
mkdir -p "$crashes"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

fuzz() {
    local target=$1 corpus=$2 dict=$3 options=()
    mkdir -p "$scratch/$corpus"
    cp tests/data/fuzz/"$corpus"/* "$scratch/$corpus/"
    [[ $dict == - ]] || options+=("-dict=fuzz/$dict")
    if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$crashes/$target-" "${options[@]}" "$scratch/$corpus" >"$scratch/$target.log" 2>&1; then
        echo "fuzz-ci: $target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$target.log" |
            grep -o '[0-9]*$') runs in $seconds s, no crash"
    else
        tail -n 40 "$scratch/$target.log"
        echo "fuzz-ci: $target failed; the input: $(sed -n 's/.*Test unit written to \(.*\)/\1/p' "$scratch/$target.log")"
        return 1
    fi
}

failed=0
running=0
for entry in "${targets[@]}"; do
    # shellcheck disable=SC2086 # the entry is three words
    fuzz $entry &
    if ((++running >= 2)); then
        wait -n || failed=1
        ((running--))
    fi
done
while ((running > 0)); do
    wait -n || failed=1
    ((running--))
done
echo "fuzz-ci: $((SECONDS - start)) s in all"
exit "$failed"
