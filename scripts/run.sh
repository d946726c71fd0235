#!/usr/bin/env bash
# Installs what is missing, builds Corvane and starts it. Arguments go to the program, which
# says its usage (corvane --help) when they are wrong.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DCORVANE_TESTS=OFF
exec "$root/build/bin/corvane" "$@"
