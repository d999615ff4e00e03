#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that the program, the menu entry and the icon arrive.
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for file in bin/tallyvane share/applications/tallyvane.desktop share/icons/hicolor/scalable/apps/tallyvane.svg; do
    [[ -s "$prefix/$file" ]] || { echo "missing after install: $file"; fail=1; }
done
[[ -x "$prefix/bin/tallyvane" ]] || { echo "not executable: bin/tallyvane"; fail=1; }
if ! desktop-file-validate "$prefix/share/applications/tallyvane.desktop"; then
    echo "the installed menu entry does not validate"
    fail=1
fi
grep -q '^Icon=tallyvane$' "$prefix/share/applications/tallyvane.desktop" || { echo "menu entry names no icon"; fail=1; }
exit "$fail"
