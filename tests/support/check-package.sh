#!/usr/bin/env bash
# Checks a Debian package of Tallyvane: the files it carries, the program run from it, its menu entry, man
# page and AppStream data, and lintian.
#   check-package.sh PACKAGE.deb
#   check-package.sh --build BUILD-FOLDER    makes the package from that build with cpack first
set -euo pipefail
work=$(mktemp -d "${TMPDIR:-/tmp}/tallyvane-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ ${1:-} == --build ]]; then
    cpack --config "$2/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
    deb=$(echo "$work"/cpack/tallyvane_*.deb)
else
    deb=$1
fi
fail=0
problem() {
    echo "$*"
    fail=1
}

version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[[ $(basename "$deb") == "tallyvane_${version}_${arch}.deb" ]] || problem "file name $(basename "$deb") is not tallyvane_${version}_${arch}.deb"
depends=$(dpkg-deb -f "$deb" Depends)
[[ ", $depends," == *", python3"[\ ,]* ]] || problem "Depends lacks python3 (the status-line bridge): $depends"

root="$work/root"
dpkg-deb -x "$deb" "$root"
# The installed package that holds a file, under any of the names a merged /usr gives it.
owner_of() {
    local real candidate
    real=$(readlink -f "$1")
    for candidate in "$1" "$real" "${real#/usr}" "/usr${1#/usr}"; do
        # Each reader takes all of its input: one that stops early would end the writer with SIGPIPE.
        dpkg -S "$candidate" 2>/dev/null | awk -F: 'NR == 1 {print $1}' | grep . && return 0
    done
    return 1
}
# Every library the programs link comes from a package that Depends names, as this system calls it.
for program in "$root/usr/bin/tallyvane" "$root/usr/libexec/tallyvane/tallyvane-tray"; do
    for library in $(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}'); do
        path=$(ldconfig -p | awk -v name="$library" '$1 == name && !found {print $NF; found = 1}')
        owner=$(owner_of "$path") || { problem "no installed package holds $library"; continue; }
        [[ ", $depends," == *", $owner"[\ ,]* ]] || problem "Depends lacks $owner (for $library): $depends"
    done
done
app=io.github.tallyvane.Tallyvane
expected=(
    usr/bin/tallyvane
    usr/libexec/tallyvane/tallyvane-tray
    usr/share/applications/$app.desktop
    usr/share/metainfo/$app.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/tallyvane.svg
    usr/share/man/man1/tallyvane.1.gz
    usr/share/bash-completion/completions/tallyvane
    usr/share/zsh/vendor-completions/_tallyvane
    usr/share/doc/tallyvane/copyright
    usr/share/doc/tallyvane/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/tallyvane.png")
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/tallyvane.png"
    if [[ -s $png ]] && ! file "$png" | grep -q "PNG image data, $size x $size,"; then
        problem "$png is not a $size x $size PNG: $(file -b "$png")"
    fi
done
for path in "${expected[@]}"; do
    [[ -s "$root/$path" ]] || problem "missing from the package: $path"
done
# Nothing else: whatever is added to the install rules is added here.
while IFS= read -r path; do
    path=${path#./}
    if [[ " ${expected[*]} " != *" $path "* ]]; then
        problem "unexpected file: $path"
    fi
done < <(cd "$root" && find . -type f -o -type l)

# The program runs from the package, on a home of its own.
home="$work/home"
mkdir -p "$home"
run() { env HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" "$root/usr/bin/tallyvane" "$@"; }
# The package's version is the program's and the release it was built for: 0.1.0+deb13 runs as 0.1.0.
[[ $(run --version) == "tallyvane ${version%%+*}" ]] || problem "--version says '$(run --version)', the package is $version"
status=$(run status --demo) || problem "status --demo failed"
grep -q '^Status: ' <<<"$status" || problem "status --demo printed no Status line: $status"
[[ -z $(ls -A "$home") ]] || problem "status --demo wrote into the home: $(ls -A "$home")"
# The interface is a program of its own that the command starts; without a display it says so.
tray=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" "$root/usr/bin/tallyvane" --demo 2>&1) &&
    problem "--demo without a display succeeded"
grep -q "needs a desktop session" <<<"$tray" || problem "tallyvane did not start its tray program: $tray"

desktop-file-validate "$root/usr/share/applications/$app.desktop" || problem "the menu entry does not validate"
grep -q '^Icon=tallyvane$' "$root/usr/share/applications/$app.desktop" || problem "the menu entry names another icon"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/tallyvane.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || problem "the man page renders with warnings: $warnings"

if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" >"$work/appstream.log" 2>&1 ||
        problem "appstreamcli validate: $(cat "$work/appstream.log")"
else
    echo "appstreamcli not installed: AppStream data not validated (make deps installs it)"
fi
if command -v lintian >/dev/null; then
    # Warnings are printed for the record; only errors fail.
    lintian --fail-on error "$deb" || problem "lintian reports errors"
else
    echo "lintian not installed: package not checked (make deps installs it)"
fi
exit "$fail"
