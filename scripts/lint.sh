#!/usr/bin/env bash
# clang-tidy, as .clang-tidy says, over our C++ files in build/dev's compilation database; fails on a finding.
#   scripts/lint.sh             every file (make lint)
#   scripts/lint.sh --changed   the files the last commit changed (CI; a changed header lints its .cpp):
#                               what a clone's remote calls main depends on how it was made, so not that
#   scripts/lint.sh FILE...     these files
set -euo pipefail
cd "$(dirname "$0")/.."
database=build/dev/compile_commands.json
[[ -f $database ]] || { echo "lint: no $database; run 'make build' first" >&2; exit 1; }

# Our sources in the database (nothing generated under build/), as paths relative to the tree.
known=$(python3 -c '
import json, os, sys
root = os.path.realpath(".")
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.realpath(os.path.join(entry["directory"], entry["file"])), root)
    if not path.startswith(("build/", "..")):
        print(path)
' "$database" | sort -u)

if [[ ${1:-} == --changed ]]; then
    base=$(git rev-parse -q --verify HEAD~1 || true)
    [[ -n $base ]] || { echo "lint: no earlier commit to compare with; skipped"; exit 0; }
    wanted=$(git diff --name-only --diff-filter=d "$base" HEAD -- '*.cpp' '*.h' | sed 's/\.h$/.cpp/' | sort -u)
    files=$(comm -12 <(echo "$known") <(echo "$wanted"))
    [[ -n $files ]] || { echo "lint: no C++ file of the build changed since ${base:0:12}; skipped"; exit 0; }
elif (($# > 0)); then
    files=$(printf '%s\n' "$@")
else
    files=$known
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
count=$(echo "$files" | wc -l)
echo "lint: clang-tidy on $count files"
if ! echo "$files" | xargs -P "${JOBS:-$(nproc)}" -n 1 clang-tidy --quiet -p build/dev >"$log" 2>&1; then
    # A header's finding comes once per file that includes it.
    grep -E '(warning|error):' "$log" | grep -v 'warnings\? treated as errors' | sort -u
    echo "lint: clang-tidy found the above" >&2
    exit 1
fi
