#!/usr/bin/env bash
# Removes what scripts/install.sh put into a prefix (default ~/.local).
set -euo pipefail
prefix=${1:-$HOME/.local}
rm -f "$prefix/bin/corvane" \
      "$prefix/share/applications/corvane.desktop" \
      "$prefix/share/icons/hicolor/32x32/apps/corvane.png"
rm -f "$prefix/lib/corvane/corvane" "$prefix/lib/corvane/pak" "$prefix/lib/corvane/minizip"
rmdir "$prefix/lib/corvane" 2>/dev/null || echo "Kept $prefix/lib/corvane: it holds files of your own"
echo "Corvane removed from $prefix"
