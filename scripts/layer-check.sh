#!/usr/bin/env bash
# Fails on an include from one layer of src/ into another that scripts/layers.txt does not allow. A layer may
# be a sub-folder ("core/io"); a file belongs to the deepest layer folder that holds it.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed
while IFS=: read -r layer deps; do
    [[ -z $layer || $layer == \#* ]] && continue
    allowed[$layer]=" $deps "
done < scripts/layers.txt
# Sets "found" to the deepest declared layer that the path (a file under src/, or an include) lies in.
layerOf() {
    local path=$1
    found=
    while [[ $path == */* ]]; do
        path=${path%/*}
        [[ -n ${allowed[$path]+x} ]] && { found=$path; return; }
    done
}
bad=0
while IFS=: read -r file line text; do
    layerOf "${file#src/}"
    layer=$found
    [[ $text =~ ^#include\ \"([^\"]+)\" ]] && layerOf "${BASH_REMATCH[1]}"
    target=$found
    [[ -z $layer || -z $target || $target == "$layer" ]] && continue
    ok=0
    for dep in ${allowed[$layer]}; do
        [[ $target == "$dep" || $target == "$dep"/* ]] && ok=1
    done
    # A sub-layer's parent may include it, and a sub-layer the rest of its parent.
    [[ $target == "$layer"/* || ( $layer == */* && $target == "${layer%%/*}" ) ]] && ok=1
    if ((!ok)); then
        echo "$file:$line: $layer may not include $target ($text)"
        bad=1
    fi
done < <(grep -rnE '^#include "[a-z]+/' src || true)
if ((bad)); then
    echo "layer-check: an include crosses a layer boundary that scripts/layers.txt does not allow" >&2
    exit 1
fi
