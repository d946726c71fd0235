#!/usr/bin/env bash
# Removes what scripts/install.sh put into a prefix (default ~/.local), and the folders it made
# there once they are empty.
set -euo pipefail
usage="Usage: scripts/uninstall.sh [PREFIX]   (default: ~/.local)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# <= 1)) && [[ ${1-} != -* ]] || { echo "$usage" >&2; exit 2; }
prefix=${1:-$HOME/.local}
made=()
if [[ -f $prefix/lib/corvane/made-folders ]]; then
    mapfile -t made <"$prefix/lib/corvane/made-folders"
fi
rm -f "$prefix/lib/corvane/made-folders"
rm -f "$prefix/bin/corvane" \
      "$prefix/share/applications/corvane.desktop" \
      "$prefix/share/man/man1/corvane.1.gz" \
      "$prefix/share/icons/hicolor/scalable/apps/corvane.svg"
for size in 32 64 128 256; do
    rm -f "$prefix/share/icons/hicolor/${size}x${size}/apps/corvane.png"
done
rm -f "$prefix/share/metainfo/example.corvane.Corvane.metainfo.xml" \
      "$prefix/share/bash-completion/completions/corvane"
rm -f "$prefix/share/doc/corvane/copyright" "$prefix/share/doc/corvane/changelog.gz"
rmdir "$prefix/share/doc/corvane" 2>/dev/null || true
rm -f "$prefix/lib/corvane/corvane" "$prefix/lib/corvane/pak" "$prefix/lib/corvane/minizip"
rmdir "$prefix/lib/corvane" 2>/dev/null || echo "Kept $prefix/lib/corvane: it holds files of your own"
# The folders the installation made, children first, each only when nothing else came into it.
for ((i = ${#made[@]} - 1; i >= 0; i--)); do
    rmdir "$prefix/${made[i]}" 2>/dev/null || true
done
echo "Corvane removed from $prefix"
