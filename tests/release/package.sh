#!/usr/bin/env bash
# The Linux package: its linters pass it, apt would install it on this release, and it holds the
# program and the files a desktop's menu looks for. Usage: package.sh CPACK_CONFIG
set -euo pipefail
work=$(mktemp -d /tmp/beam-tailor-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
cpack --config "$1" -B "$work" >/dev/null
deb=$(echo "$work"/beam-tailor_*.deb)

dpkg-deb -f "$deb" Depends | grep libgtk-3-0  # worked out from the program's libraries
# Its dependencies are names this release has (built on a later one, they need not be).
apt-get install -s "$deb" | grep "^Inst beam-tailor "
dpkg-deb -x "$deb" "$work/tree"
(cd "$work/tree/usr" && ls bin/beam-tailor share/applications/org.beamtailor.BeamTailor.desktop \
    share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/beam-tailor.png >/dev/null)
desktop-file-validate "$work"/tree/usr/share/applications/*.desktop
# The metainfo, with its .desktop file and icon; AppStream 0.16 calls the developer element 1.0 asks for unknown.
dpkg --compare-versions "$(dpkg-query -W -f='${Version}' appstream)" ge 1.0 || older=(--override=unknown-tag=pedantic)
appstreamcli validate-tree --no-net --strict "${older[@]}" "$work/tree"
lintian --fail-on error,warning "$deb"
