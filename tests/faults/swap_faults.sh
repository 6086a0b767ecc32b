#!/usr/bin/env bash
# Faults around one swap that need the swap in a process of its own: a disk that fills up during
# the copy (a small tmpfs, or a file-size limit), a mod folder that may not be written, a source
# that may not be read, kill -9 at random points, and the order of the system calls that make the
# swap durable.
#
#   swap_faults.sh CASE SWAP_ONCE [WINE]
#
# SWAP_ONCE is the Linux tool, or the Windows one when the Wine loader that runs it follows.
# Every failing case checks the same things: the pack's bytes are unchanged, no temporary copy is
# left in the mod folder, and the report gives an error number and text and names the file. Then
# a swap that can succeed must give the source's bytes. Exit status 77 means skipped.
set -euo pipefail

case_name=$1
swap_tool=$2
runner=${3:-}

# A full disk is a small tmpfs, mounted in a mount namespace of this case's own.
if [ "$case_name" = disk-full ] && [ -z "${SWAP_FAULTS_OWN_MOUNTS:-}" ]; then
    [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null || { echo "SKIPPED: mounting a tmpfs needs root"; exit 77; }
    exec env SWAP_FAULTS_OWN_MOUNTS=1 unshare -m --propagation private bash "$0" "$@"
fi

work=$(mktemp -d /tmp/beam-faults.XXXXXX)
chmod 755 "$work"
mod=$work/game/grimvolt
pack=$mod/pakskin.pk3
source_file=$mod/skindata1.ncx
mkdir -p "$mod"
cleanup() {
    chattr -i "$mod" 2>/dev/null || true
    if [ -n "${own_wine_prefix:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    mountpoint -q "$mod" && umount "$mod"
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}

# Runs the swap tool on two paths, in this shell's process (so that a kill reaches the tool
# itself); Wine takes Linux paths through drive z:.
exec_swap() {
    if [ -n "$runner" ]; then
        exec "$runner" "$swap_tool" "z:$1" "z:$2"
    else
        exec "$swap_tool" "$1" "$2"
    fi
}
swap() {
    (exec_swap "$@")
}
# The name the tool reports for a path.
reported() {
    if [ -n "$runner" ]; then echo "z:$1"; else echo "$1"; fi
}
hash_of() {
    sha256sum "$1" | cut -d' ' -f1
}
random_file() {
    head -c "$2" /dev/urandom >"$1"
}
leftover_copies() {
    find "$mod" -maxdepth 1 -name 'pakskin.pk3.*.tmp' | wc -l
}

# Runs a command that may fail, in a subshell: its exit status in $status, its error report in $report.
attempt() {
    set +e
    report=$("$@" 2>&1 >/dev/null)
    status=$?
    set -e
}
# A swap whose files may not grow past 1 MB; SIGXFSZ ignored, so the write fails instead of
# killing the tool.
swap_within_file_size_limit() {
    ulimit -f 1024
    trap '' XFSZ
    swap "$@"
}

# A failed swap: status 1, a report with a number and text that names the file (the pack unless
# given), the pack as it was, no copy left.
expect_failed_swap() {
    local status=$1 report=${2//$'\r'/} old_hash=$3 named=${4:-$pack}  # Windows lines end with CR LF
    [ "$status" -eq 1 ] || fail "the swap ended with status $status, not 1; it said: $report"
    grep -Eq '^Error [0-9]+: .+' <<<"$report" || fail "the report gives no error number and text: $report"
    grep -qxF "$(reported "$named")" <<<"$report" || fail "the report does not name $named: $report"
    [ "$(hash_of "$pack")" = "$old_hash" ] || fail "the pack changed"
    [ "$(leftover_copies)" -eq 0 ] || fail "a temporary copy was left: $(ls "$mod")"
    echo "reported: $(head -1 <<<"$report")"
}
expect_good_swap() {
    swap "$source_file" "$pack" >/dev/null || fail "the swap failed"
    [ "$(hash_of "$pack")" = "$(hash_of "$source_file")" ] || fail "the pack is not the source"
    [ "$(leftover_copies)" -eq 0 ] || fail "a temporary copy was left: $(ls "$mod")"
}

case $case_name in
file-size-limit)
    # ulimit -f binds root too.
    random_file "$pack" 100000
    random_file "$source_file" 3000000
    old_hash=$(hash_of "$pack")
    attempt swap_within_file_size_limit "$source_file" "$pack"
    expect_failed_swap "$status" "$report" "$old_hash"
    expect_good_swap
    ;;
disk-full)
    mount -t tmpfs -o size=1m tmpfs "$mod" || skip "cannot mount a tmpfs here"
    if [ -n "$runner" ]; then
        # Wine's server opens the files, so it must run in this namespace too: a prefix of our own.
        export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
        own_wine_prefix=1
        mkdir -p "$WINEPREFIX"
        wineserver -p </dev/null >/dev/null 2>&1
        "$runner" wineboot -i </dev/null >/dev/null 2>&1
    fi
    random_file "$pack" 300000
    source_file=$work/skindata1.ncx  # beside, not on, the small disk
    random_file "$source_file" 900000
    old_hash=$(hash_of "$pack")
    attempt swap "$source_file" "$pack"
    expect_failed_swap "$status" "$report" "$old_hash"
    random_file "$source_file" 500000  # fits beside the pack
    expect_good_swap
    ;;
unwritable-folder)
    random_file "$pack" 100000
    random_file "$source_file" 200000
    old_hash=$(hash_of "$pack")
    # The immutable flag binds root too, under Wine as well.
    if chattr +i "$mod" 2>/dev/null; then
        attempt swap "$source_file" "$pack"
        chattr -i "$mod"
        expect_failed_swap "$status" "$report" "$old_hash"
    else
        echo "immutable folder not tried: this file system refuses chattr +i"
        immutable_skipped=1
    fi
    # A folder without write permission, for a user who is not root.
    if [ -z "$runner" ] && [ "$(id -u)" -eq 0 ]; then
        chmod 555 "$mod"
        attempt setpriv --reuid=65534 --regid=65534 --clear-groups "$swap_tool" "$source_file" "$pack"
        chmod 755 "$mod"
        expect_failed_swap "$status" "$report" "$old_hash"
    elif [ -n "${immutable_skipped:-}" ]; then
        skip "neither chattr +i nor a non-root user is available here"
    fi
    expect_good_swap
    ;;
unreadable-source)
    # Root reads any file, so a user who is not root tries; Wine runs as root here.
    [ -z "$runner" ] && [ "$(id -u)" -eq 0 ] || skip "needs the Linux build run as root, to switch to a user who is not"
    random_file "$pack" 100000
    random_file "$source_file" 200000
    old_hash=$(hash_of "$pack")
    chmod 777 "$mod"
    chmod 000 "$source_file"
    attempt setpriv --reuid=65534 --regid=65534 --clear-groups "$swap_tool" "$source_file" "$pack"
    chmod 644 "$source_file"
    expect_failed_swap "$status" "$report" "$old_hash" "$source_file"
    expect_good_swap
    ;;
kill-during-swap)
    # A source large enough that a random kill lands inside the copy most of the time.
    random_file "$pack" 1000000
    random_file "$source_file" $((64 << 20))
    old_hash=$(hash_of "$pack")
    new_hash=$(hash_of "$source_file")
    expect_good_swap  # the first swap also waits for the source's own bytes to reach the disk
    start_ns=$(date +%s%N)
    swap "$source_file" "$pack" >/dev/null
    window_ms=$((($(date +%s%N) - start_ns) / 1000000 + 1))
    random_file "$pack" 1000000
    old_hash=$(hash_of "$pack")
    kills=50
    landed_in_copy=0
    for ((kill = 1; kill <= kills; ++kill)); do
        exec_swap "$source_file" "$pack" >/dev/null 2>&1 &
        swap_pid=$!
        delay_ms=$((RANDOM % window_ms))
        sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
        kill -9 "$swap_pid" 2>/dev/null || true
        wait "$swap_pid" 2>/dev/null || true
        pack_hash=$(hash_of "$pack")
        [ "$pack_hash" = "$old_hash" ] || [ "$pack_hash" = "$new_hash" ] || fail "kill $kill after ${delay_ms} ms left a broken pack"
        left=$(leftover_copies)
        # A swap removes the copy an earlier one left before it makes its own: never more than one.
        [ "$left" -le 1 ] || fail "kill $kill: $left temporary copies pile up: $(ls "$mod")"
        landed_in_copy=$((landed_in_copy + left))
    done
    echo "$kills kills within ${window_ms} ms of the start; $landed_in_copy of them left a temporary copy"
    [ "$landed_in_copy" -gt 0 ] || fail "no kill landed inside the copy"
    expect_good_swap
    ;;
durability-order)
    command -v strace >/dev/null || skip "strace is not installed"
    random_file "$pack" 100000
    random_file "$source_file" 200000
    trace=$work/trace
    strace -f -o "$trace" -e trace=openat,open,fsync,fdatasync,rename,renameat,renameat2 "$swap_tool" "$source_file" "$pack" >/dev/null ||
        skip "strace cannot trace here"
    # "N:call" for the first call after line N of the trace that matches an extended regular expression.
    first_after() {
        awk -v after="$1" -v pattern="$2" 'NR > after && $0 ~ pattern {print NR ":" $0; exit}' "$trace"
    }
    line_of() { echo "${1%%:*}"; }
    result_of() { sed -E 's/.*= ([0-9]+)$/\1/' <<<"$1"; }
    copy=$pack'[.][0-9a-f]+[.]tmp'  # mawk knows no {8}
    create=$(first_after 0 "open(at)?[(].*\"$copy\", .*O_CREAT")
    [ -n "$create" ] || fail "no temporary copy made in the mod folder: $(cat "$trace")"
    grep -q 'O_EXCL' <<<"$create" || fail "the temporary copy is not created exclusively: $create"
    flush=$(first_after "$(line_of "$create")" "fsync[(]$(result_of "$create")[)]")
    rename=$(first_after 0 "rename(at2?)?[(].*\"$copy\".*\"$pack\"")
    [ -n "$flush" ] && [ -n "$rename" ] && [ "$(line_of "$flush")" -lt "$(line_of "$rename")" ] ||
        fail "the copy is not flushed before the rename: $(cat "$trace")"
    folder=$(first_after "$(line_of "$rename")" "open(at)?[(].*\"$mod\", .*O_DIRECTORY")
    folder_flush=$(first_after "$(line_of "$folder")" "fsync[(]$(result_of "$folder")[)]")
    [ -n "$folder" ] && [ -n "$folder_flush" ] || fail "the folder is not flushed after the rename: $(cat "$trace")"
    echo "in order: exclusive create (trace line $(line_of "$create")), flush of the copy ($(line_of "$flush")),"
    echo "rename over the pack ($(line_of "$rename")), flush of the folder ($(line_of "$folder_flush"))"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "passed: $case_name"
