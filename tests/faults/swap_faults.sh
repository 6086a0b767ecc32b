#!/usr/bin/env bash
# Faults that need one swap in a process of its own: a full disk, a file-size limit, a mod folder
# that may not be written, a source that may not be read, kill -9 at random points, and the order
# of the calls that make the swap durable. Each failure must leave the pack's bytes as they were
# and no temporary copy, and report an error number and text and the file; then a swap must work.
#
#   swap_faults.sh CASE SWAP_ONCE [WINDOWS_RUNNER...]      exit status 77: skipped
set -euo pipefail
case_name=$1 tool=$2
runner=("${@:3}")

# A full disk is a small tmpfs, mounted in a mount namespace of this case's own.
if [ "$case_name" = disk-full ] && [ -z "${OWN_MOUNTS:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "SKIPPED: mounting a tmpfs needs root"; exit 77; }
    exec env OWN_MOUNTS=1 unshare -m --propagation private bash "$0" "$@"
fi

work=$(mktemp -d /tmp/beam-faults.XXXXXX)
mod=$work/grimvolt pack=$work/grimvolt/pakskin.pk3 source_file=$work/grimvolt/skindata1.ncx
mkdir -p "$mod" && chmod 755 "$work"
cleanup() {
    set +e
    chattr -i "$mod" 2>/dev/null
    [ -z "${OWN_WINEPREFIX:-}" ] || wineserver -k
    mountpoint -q "$mod" && umount "$mod"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
# Wine takes Linux paths through drive z:.
name() { echo "${runner:+z:}$1"; }
exec_swap() { exec "${runner[@]}" "$tool" "$(name "$1")" "$(name "$2")"; }
swap() { (exec_swap "$@"); }
hash_of() { sha256sum "$1" | cut -d' ' -f1; }
copies_left() { find "$mod" -name 'pakskin.pk3.*.tmp' | wc -l; }
random_file() { head -c "$2" /dev/urandom >"$1"; }
random_file "$pack" 100000
random_file "$source_file" 2000000
old_hash=$(hash_of "$pack")

# Runs "$@" (which ends in a swap) expecting it to fail: status 1, "Error N: text" and the file's
# name (the pack unless given) on a line of its own, the pack as it was, no copy left.
expect_failure() {
    local named=$pack
    [ "$1" != --names ] || { named=$2; shift 2; }
    set +e
    report=$("$@" 2>&1 >/dev/null)
    status=$?
    set -e
    report=${report//$'\r'/}
    [ "$status" -eq 1 ] && grep -Eq '^Error [0-9]+: .+' <<<"$report" && grep -qxF "$(name "$named")" <<<"$report" ||
        fail "status $status, report: $report"
    [ "$(hash_of "$pack")" = "$old_hash" ] || fail "the pack changed"
    [ "$(copies_left)" -eq 0 ] || fail "a temporary copy was left: $(ls "$mod")"
    echo "reported: $(head -1 <<<"$report")"
}
# SIGXFSZ ignored, so that the write fails instead of killing the tool. The limit binds root too.
within_file_size_limit() { (ulimit -f 1024 && trap '' XFSZ && exec_swap "$@"); }
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

case $case_name in
file-size-limit)
    expect_failure within_file_size_limit "$source_file" "$pack" ;;
disk-full)
    mount -t tmpfs -o size=1m tmpfs "$mod" || skip "cannot mount a tmpfs here"
    random_file "$pack" 300000
    old_hash=$(hash_of "$pack")
    source_file=$work/skindata1.ncx  # beside, not on, the small disk
    random_file "$source_file" 900000
    if [ ${#runner[@]} -gt 0 ]; then  # Wine's server opens the files: it must run in this namespace too
        export WINEPREFIX=$work/wine OWN_WINEPREFIX=1
        mkdir "$WINEPREFIX" && wineserver -p </dev/null >/dev/null 2>&1
        "${runner[@]}" wineboot -i </dev/null >/dev/null 2>&1
    fi
    expect_failure swap "$source_file" "$pack"
    random_file "$source_file" 500000 ;;  # fits beside the pack
unwritable-folder)  # the immutable flag binds root, and Wine, too
    chattr +i "$mod" 2>/dev/null || skip "this file system refuses chattr +i"
    expect_failure swap "$source_file" "$pack"
    chattr -i "$mod" ;;
unreadable-source)  # root reads any file, so a user who is not root tries
    [ "$(id -u)" -eq 0 ] || skip "needs root, to switch to a user who is not"
    chmod 777 "$mod" && chmod 000 "$source_file"
    expect_failure --names "$source_file" as_nobody "$tool" "$source_file" "$pack"
    chmod 644 "$source_file" ;;
kill-during-swap)  # a source large enough that most kills land inside the copy
    random_file "$source_file" $((64 << 20))
    new_hash=$(hash_of "$source_file")
    swap "$source_file" "$pack" >/dev/null  # also puts the source's own bytes on disk
    start=$(date +%s%N)
    swap "$source_file" "$pack" >/dev/null
    window_ms=$((($(date +%s%N) - start) / 1000000 + 1))
    random_file "$pack" 100000
    old_hash=$(hash_of "$pack")
    landed=0
    for ((kill = 1; kill <= 50; ++kill)); do
        exec_swap "$source_file" "$pack" >/dev/null 2>&1 &
        sleep "$((RANDOM % window_ms))e-3"
        kill -9 $! 2>/dev/null || true
        wait $! 2>/dev/null || true
        [[ "$(hash_of "$pack")" =~ ^($old_hash|$new_hash)$ ]] || fail "kill $kill left a broken pack"
        # A swap removes the copy an earlier one left before it makes its own: never more than one.
        left=$(copies_left)
        [ "$left" -le 1 ] || fail "kill $kill: $left temporary copies pile up"
        landed=$((landed + left))
    done
    echo "50 kills within ${window_ms} ms; $landed left a temporary copy"
    [ "$landed" -gt 0 ] || fail "no kill landed inside the copy" ;;
durability-order)  # exclusive create, flush of the copy, rename over the pack, flush of the folder
    command -v strace >/dev/null || skip "strace is not installed"
    strace -f -o "$work/trace" -e trace=openat,fsync,rename,renameat2 "$tool" "$source_file" "$pack" >/dev/null ||
        skip "strace cannot trace here"
    copy="\"$pack[.][0-9a-f]+[.]tmp\""
    awk -v copy="$copy" -v pack="\"$pack\"" -v mod="\"$mod\"" '
        step == 0 && $0 ~ "openat[(].*" copy ".*O_CREAT[|]O_EXCL" { fd = $NF; step = 1; next }
        step == 1 && $0 ~ "fsync[(]" fd "[)]" { step = 2; next }
        step == 2 && $0 ~ "rename.*" copy ".*" pack { step = 3; next }
        step == 3 && $0 ~ "openat[(].*" mod ".*O_DIRECTORY" { fd = $NF; step = 4; next }
        step == 4 && $0 ~ "fsync[(]" fd "[)]" { step = 5 }
        END { exit step != 5 }' "$work/trace" || fail "not in order: $(cat "$work/trace")" ;;
*) fail "unknown case $case_name" ;;
esac
swap "$source_file" "$pack" >/dev/null || fail "the swap after the fault failed"
[ "$(hash_of "$pack")" = "$(hash_of "$source_file")" ] && [ "$(copies_left)" -eq 0 ] || fail "the swap after the fault"
echo "passed: $case_name"
