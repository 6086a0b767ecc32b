#!/usr/bin/env bash
# The Linux package. lint: its linters pass it. install: apt installs and removes it in a throwaway overlay root.
# Usage: package.sh lint|install CPACK_CONFIG
set -euo pipefail
if [ "$1" = install ] && [ -z "${PACKAGE_OWN_MOUNTS:-}" ]; then
    [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null ||
        { echo "SKIPPED: the throwaway root needs root and a mount namespace"; exit 77; }
    exec env PACKAGE_OWN_MOUNTS=1 unshare -m --propagation private bash "$0" "$@"
fi
work=$(mktemp -d /tmp/beam-tailor-package.XXXXXX)
# Unmounted first: the throwaway root holds this machine's /dev.
trap 'umount -R "$work/layer" 2>/dev/null || true; rm -rf --one-file-system "$work"' EXIT
cpack --config "$2" -B "$work" >/dev/null
deb=$(echo "$work"/beam-tailor_*.deb)

if [ "$1" = lint ]; then
    dpkg-deb -f "$deb" Depends | grep libgtk-3-0  # worked out from the program's libraries
    dpkg-deb -x "$deb" "$work/tree"
    desktop-file-validate "$work"/tree/usr/share/applications/*.desktop
    # The metainfo, with its .desktop file and icon; AppStream 0.16 calls the developer element 1.0 asks for unknown.
    dpkg --compare-versions "$(dpkg-query -W -f='${Version}' appstream)" ge 1.0 || older=(--override=unknown-tag=pedantic)
    appstreamcli validate-tree --no-net --strict "${older[@]}" "$work/tree"
    lintian --fail-on error,warning "$deb"
    exit
fi

root=$work/layer/root
mkdir "$work/layer" && mount -t tmpfs tmpfs "$work/layer" && mkdir "$work"/layer/{upper,work,root}
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
mount --rbind /dev "$root/dev" && mount -t proc proc "$root/proc" && cp "$deb" "$root/tmp/"
in_root() { chroot "$root" "$@" >>"$work/apt.log" 2>&1 || { cat "$work/apt.log"; return 1; }; }
installed=(/usr/share/applications/org.beamtailor.BeamTailor.desktop
           /usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/beam-tailor.png)

DEBIAN_FRONTEND=noninteractive in_root apt-get install -y "/tmp/${deb##*/}"
in_root sh -c '[ "$(command -v beam-tailor)" = /usr/bin/beam-tailor ] && ls "$@"' - "${installed[@]}"
in_root apt-get remove -y beam-tailor
in_root sh -c '! command -v beam-tailor && ! ls -d "$@" 2>/dev/null | grep .' - "${installed[@]}"  # none left
