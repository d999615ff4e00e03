#!/usr/bin/env bash
# Fails on an include from one layer of src/ into another that scripts/layers.txt does not allow.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed
while IFS=: read -r layer deps; do
    [[ -z $layer || $layer == \#* ]] && continue
    allowed[$layer]=" $deps "
done < scripts/layers.txt
bad=0
for layer in "${!allowed[@]}"; do
    while IFS=: read -r file line text; do
        target=$(sed -E 's/^#include "([a-z]+)\/.*/\1/' <<<"$text")
        [[ $target == "$layer" || -z ${allowed[$target]+x} ]] && continue
        if [[ ${allowed[$layer]} != *" $target "* ]]; then
            echo "$file:$line: $layer may not include $target ($text)"
            bad=1
        fi
    done < <(grep -rnE '^#include "[a-z]+/' "src/$layer" || true)
done
if ((bad)); then
    echo "layer-check: an include crosses a layer boundary that scripts/layers.txt does not allow" >&2
    exit 1
fi
