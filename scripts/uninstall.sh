#!/usr/bin/env bash
# Removes what scripts/install.sh put into a prefix (default ~/.local).
set -euo pipefail
prefix=${1:-$HOME/.local}
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
echo "Corvane removed from $prefix"
