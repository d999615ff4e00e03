#!/usr/bin/env bash
# Fails when a tracked C++ file is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
[[ -z "$files" ]] && exit 0
if ! echo "$files" | xargs clang-format --dry-run --Werror 2>/tmp/tallyvane-format.$$; then
    head -n 20 /tmp/tallyvane-format.$$
    rm -f /tmp/tallyvane-format.$$
    echo "Formatting differs: run 'make format'." >&2
    exit 1
fi
rm -f /tmp/tallyvane-format.$$
