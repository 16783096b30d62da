#!/usr/bin/env bash
# Proves the README's two commands on a pristine Debian 12: makes a fresh
# root with debootstrap (variant minbase: the essential packages and apt,
# nothing else), copies a clean clone of this repository's HEAD into it, and
# runs ./run.sh and then ./test.sh there as root, in a chroot with /proc,
# /dev and /sys bound. Prints how long each command took.
#
#   sudo tools/pristine_check.sh [ROOT]
#   sudo tools/pristine_check.sh --package [ROOT]
#
# --package instead builds the Debian package here (tools/package/deb.sh)
# and checks it in the fresh root (tests/package/pristine_install_test.sh):
# apt installs it, two users play, apt purges it. Log: ROOT.package.log.
#
# ROOT is the folder for the new root, outside the repository (default
# /var/tmp/vellora-pristine); it is made anew on every run and left in place
# afterwards, with the logs beside it (ROOT.run.log, ROOT.test.log).
# PRISTINE_MIRROR names the Debian mirror (default http://deb.debian.org/debian).
# Needs network access to the mirror; takes a while (every package is
# downloaded and both builds run from nothing). Not part of CI.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
package=0
if [ "${1:-}" = --package ]; then
    package=1
    shift
fi
root=${1:-/var/tmp/vellora-pristine}
mirror=${PRISTINE_MIRROR:-http://deb.debian.org/debian}

[ "$(id -u)" -eq 0 ] || { echo "Run as root (debootstrap, mount and chroot need it)." >&2; exit 1; }
case "$(realpath -m "$root")/" in
    "$repo"/*) echo "The root must lie outside the repository." >&2; exit 1 ;;
esac
. "$repo/tools/setup.sh"
need_packages debootstrap git

mounted_under() { grep -q -F " $(realpath -m "$1")/" /proc/mounts; }

# Everything mounted under the root, deepest first: the binds made here and
# whatever the tests made inside (ip netns mounts /run/netns, say).
unmount_all() {
    local dir
    for dir in tmp/.X11-unix sys dev proc; do
        mountpoint -q "$root/$dir" 2>/dev/null && umount -R "$root/$dir"
    done
    awk -v top="$(realpath -m "$root")/" 'index($2, top) == 1 {print $2}' /proc/mounts | sort -r |
        while read -r dir; do umount -l "$dir"; done
    return 0
}

if [ -e "$root" ]; then
    unmount_all
    # Never remove a tree that still has the machine's /dev or /sys in it.
    mounted_under "$root" && { echo "Something is still mounted under $root." >&2; exit 1; }
    rm -rf "$root"
fi

if [ $package -eq 1 ]; then
    echo "== tools/package/deb.sh (here, not in the root) =="
    started=$(date +%s)
    "$repo/tools/package/deb.sh" > "$root.deb.log" 2>&1 || { tail -n 20 "$root.deb.log"; exit 1; }
    deb=$(ls "$repo"/out/vellora_"$VELLORA_VERSION"_*.deb)
    echo "   $(basename "$deb") in $(( $(date +%s) - started )) s"
elif [ -n "$(git -C "$repo" status --porcelain)" ]; then
    echo "Note: only committed work is checked; the work tree has uncommitted changes."
fi

echo "== debootstrap bookworm (minbase) into $root =="
started=$(date +%s)
debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.debootstrap.log" 2>&1 ||
    { tail -n 20 "$root.debootstrap.log"; exit 1; }
echo "   $(( $(date +%s) - started )) s"

cp /etc/resolv.conf "$root/etc/resolv.conf"
# debootstrap writes no /etc/hosts; the installer (or the container runtime)
# of every real machine does, with at least localhost in it.
[ -e "$root/etc/hosts" ] ||
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' > "$root/etc/hosts"
# No daemon that a package brings may start inside the chroot.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

if [ $package -eq 1 ]; then
    mkdir -p "$root/root/check"
    cp "$deb" "$repo/tests/package/pristine_install_test.sh" "$repo/tools/xsession.sh" "$root/root/check/"
else
    git clone -q "$repo" "$root/root/vellora"
    git -C "$root/root/vellora" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"
fi

trap unmount_all EXIT
mount --bind /proc "$root/proc"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
# The chroot shares the machine's network, and with it the abstract X socket
# names: sharing the socket folder lets the virtual displays inside and
# outside see each other's numbers and never take the same one.
mkdir -p /tmp/.X11-unix "$root/tmp/.X11-unix"
chmod 1777 /tmp/.X11-unix
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

# A login's environment of the new machine, nothing of this one's.
in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "cd /root/${2:-vellora} && $1"
}

if [ $package -eq 1 ]; then
    echo "== the package in the pristine root (log: $root.package.log) =="
    started=$(date +%s)
    status=0
    in_root "./pristine_install_test.sh $(basename "$deb")" check > "$root.package.log" 2>&1 || status=1
    [ $status -eq 0 ] && result=passed || { result=FAILED; cat "$root.package.log"; }
    echo "   the package check $result in $(( $(date +%s) - started )) s"
    exit $status
fi

status=0
declare -A took
for command in run test; do
    echo "== ./$command.sh in the pristine root (log: $root.$command.log) =="
    started=$(date +%s)
    if in_root "./$command.sh" > "$root.$command.log" 2>&1; then
        result=passed
    else
        result=FAILED
        status=1
        tail -n 40 "$root.$command.log"
    fi
    took[$command]=$(( $(date +%s) - started ))
    echo "   ./$command.sh $result in ${took[$command]} s"
    [ $status -eq 0 ] || break
done

echo "== Summary =="
for command in run test; do
    [ -n "${took[$command]:-}" ] && echo "./$command.sh: ${took[$command]} s"
done
exit $status
