#!/usr/bin/env bash
# The release files built from two copies of the tree, with another umask and time zone, match; prints sums.
# Usage: reproducible.sh SOURCE_FOLDER
set -euo pipefail
work=$(mktemp -d /tmp/beam-tailor-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
epoch=$(git -C "$1" log -1 --format=%ct 2>/dev/null || date +%s)  # a tree outside git: any one date for both
for build in "first 022 UTC" "second-build 002 Pacific/Chatham"; do
    read -r copy mask zone <<<"$build"
    mkdir "$work/$copy"
    tar -C "$1" --exclude=./.git --exclude=./build --exclude=./dist -cf - . | tar -C "$work/$copy" -xf -
    (cd "$work/$copy" && umask "$mask" && SOURCE_DATE_EPOCH=$epoch TZ=$zone scripts/build release)
done
cat "$work/first/dist/SHA256SUMS"
(cd "$work/second-build/dist" && sha256sum --check --quiet "$work/first/dist/SHA256SUMS")
