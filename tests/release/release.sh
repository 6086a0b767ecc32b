#!/usr/bin/env bash
# The release files, built from two copies of the tree with another umask and time zone, match; the Linux package
# among them passes its linters, would install on this release and holds the program and what a desktop's menu
# looks for. Usage: release.sh SOURCE_FOLDER
set -euo pipefail
work=$(mktemp -d /tmp/beam-tailor-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
epoch=$(git -C "$1" log -1 --format=%ct 2>/dev/null || date +%s)  # a tree outside git: any one date for both
for build in "first 022 UTC" "second-build 002 Pacific/Chatham"; do
    read -r copy mask zone <<<"$build"
    mkdir "$work/$copy"
    tar -C "$1" --exclude=./.git --exclude=./build --exclude=./dist -cf - . | tar -C "$work/$copy" -xf -
    (cd "$work/$copy" && umask "$mask" && SOURCE_DATE_EPOCH=$epoch TZ=$zone scripts/build release)
done
(cd "$work/second-build/dist" && sha256sum --check --quiet "$work/first/dist/SHA256SUMS")

deb=$(echo "$work"/first/dist/beam-tailor_*.deb)
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
