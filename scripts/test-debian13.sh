#!/usr/bin/env bash
# The README's set-up on a fresh Debian 13: a minbase root made with debootstrap from the mirror this machine's
# apt uses (kept between runs), a clean clone of this checkout's HEAD inside it, `make test` and `make package`
# there, the package installed with apt, and the installed program run: --version, status --demo, top --demo.
#   scripts/test-debian13.sh [--no-test]    --no-test builds and checks the package only
# Needs root (debootstrap, chroot, mounts). TALLYVANE_DEBIAN13_ROOT moves the cached root.
set -euo pipefail
cd "$(dirname "$0")/.."
run_tests=1
[[ ${1:-} == --no-test ]] && run_tests=0
cache=${TALLYVANE_DEBIAN13_ROOT:-/var/cache/tallyvane/debian13}
root="$cache/root"
say() { echo "test-debian13: $*"; }

[[ $(id -u) -eq 0 ]] || { say "needs root (debootstrap and chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null

# A root older than a week is made anew, so the check follows Debian 13's point releases.
# (The stamp is ours: the files debootstrap unpacks keep their packages' dates.)
if [[ -d $root && ( ! -e $root/.tallyvane-made || -n $(find "$root/.tallyvane-made" -mtime +7 2>/dev/null) ) ]]; then
    say "the cached root is over a week old; making it anew"
    rm -rf "$root"
fi
if [[ ! -x $root/usr/bin/make ]]; then
    mirror=$(sed -n 's/^URIs: *\([^ ]*debian\)\/\?$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
    [[ -n $mirror ]] || mirror=$(awk '$1 == "deb" && $2 ~ /debian\/?$/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
    [[ -n $mirror ]] || { say "found no Debian mirror in this machine's apt sources" >&2; exit 1; }
    say "making a minbase Debian 13 root in $root"
    rm -rf "$root.new"
    mkdir -p "$cache"
    debootstrap --variant=minbase --include=make,git,ca-certificates trixie "$root.new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
    touch "$root.new/.tallyvane-made"
    mv "$root.new" "$root"
fi

mounted=()
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
for fs in proc sys dev dev/pts dev/shm; do
    mkdir -p "$root/$fs"
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done
mkdir -p "$root/tmp"
chmod 1777 "$root/tmp"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# npm inside the root trusts what this machine trusts (a proxy's own authority included).
cp /etc/ssl/certs/ca-certificates.crt "$root/usr/local/share/ca-certificates/host-bundle.crt" 2>/dev/null || true

# A clean clone of what is committed, with the npm peers kept between runs outside it.
rm -rf "$root/root/tallyvane"
git clone -q --no-local "$PWD" "$root/root/tallyvane"
mkdir -p "$root/var/cache/tallyvane-tools"
ln -s /var/cache/tallyvane-tools "$root/root/tallyvane/tools"

inside() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=xterm-256color CI=true NODE_EXTRA_CA_CERTS=/usr/local/share/ca-certificates/host-bundle.crt \
        /bin/bash -c "$1"
}

inside 'grep -q "^13" /etc/debian_version' || { say "the root is not Debian 13: $(cat "$root/etc/debian_version")" >&2; exit 1; }
inside 'update-ca-certificates >/dev/null 2>&1 || true'
start=$SECONDS
if ((run_tests)); then
    inside 'cd /root/tallyvane && make test'
    say "make test passed on Debian $(cat "$root/etc/debian_version") in $((SECONDS - start)) s"
fi
inside 'cd /root/tallyvane && make package'
inside 'cd /root/tallyvane && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./tallyvane_*.deb >/dev/null'
inside 'tallyvane --version && tallyvane status --demo >/dev/null'
inside 'tmux kill-server 2>/dev/null; tmux new-session -d -x 100 -y 30 "tallyvane top --demo" && sleep 2 &&
    screen=$(tmux capture-pane -p) && tmux kill-server && grep -q "Codex" <<<"$screen" ||
    { echo "top --demo did not draw:"; echo "$screen"; exit 1; }'
say "the package installs and runs on Debian $(cat "$root/etc/debian_version"); $((SECONDS - start)) s in all"
