#!/usr/bin/env bash
# Installs what is missing, builds Corvane and installs it into a prefix (default ~/.local):
# PREFIX/lib/corvane (program folder), PREFIX/bin/corvane, a desktop entry and the icon.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$HOME/.local}
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DCORVANE_TESTS=OFF
cmake --install "$root/build" --prefix "$prefix"
echo "Installed into $prefix; start it with: $prefix/bin/corvane"
