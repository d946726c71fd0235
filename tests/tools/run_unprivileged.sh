#!/bin/sh
# Runs a test program again as an unprivileged user (nobody), since root passes permission
# checks that users do not. The program and the tools are copied to a fresh folder anyone can
# read, so that the build folder's own permissions do not matter.
# Arguments: TEST_PROGRAM [TOOL ...]. Exits 77 (skipped) when not root or without setpriv.
set -eu
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null; then
    echo "not root or no setpriv: the run as an unprivileged user is skipped"
    exit 77
fi
work=$(mktemp -d /tmp/corvane-unprivileged-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
for file in "$@"; do cp "$file" "$work/"; done
test=$work/$(basename "$1")
export CORVANE_PAK_BIN="$work/pak" CORVANE_MINIZIP_BIN="$work/minizip" TMPDIR=/tmp
cd /tmp
setpriv --reuid=65534 --regid=65534 --clear-groups "$test"
