#!/usr/bin/env bash
# The Linux package. lint: its linters pass it. install: apt would install it on this release, and
# it holds the program and the files a desktop's menu looks for.
# Usage: package.sh lint|install CPACK_CONFIG
set -euo pipefail
work=$(mktemp -d /tmp/beam-tailor-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
cpack --config "$2" -B "$work" >/dev/null
deb=$(echo "$work"/beam-tailor_*.deb)

if [ "$1" = install ]; then
    # Its dependencies are names this release has (built on a later one, they need not be).
    apt-get install -s "$deb" | grep "^Inst beam-tailor "
    missing=$(comm -13 <(dpkg-deb -c "$deb" | awk '{ print $6 }' | sort) <(printf './usr/%s\n' bin/beam-tailor \
        share/applications/org.beamtailor.BeamTailor.desktop \
        share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/beam-tailor.png | sort))
    [ -z "$missing" ] || { echo "Not in the package: $missing" && exit 1; }
    exit
fi
dpkg-deb -f "$deb" Depends | grep libgtk-3-0  # worked out from the program's libraries
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work"/tree/usr/share/applications/*.desktop
# The metainfo, with its .desktop file and icon; AppStream 0.16 calls the developer element 1.0 asks for unknown.
dpkg --compare-versions "$(dpkg-query -W -f='${Version}' appstream)" ge 1.0 || older=(--override=unknown-tag=pedantic)
appstreamcli validate-tree --no-net --strict "${older[@]}" "$work/tree"
lintian --fail-on error,warning "$deb"
