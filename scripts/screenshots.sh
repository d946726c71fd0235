#!/usr/bin/env bash
# Draws the three screens, and the search and conversion on Debian's layout, under Xvfb into
# docs/screenshots/*.png (run after a build).
set -euo pipefail
usage="Usage: scripts/screenshots.sh   (no arguments; CORVANE_BUILD_DIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# == 0)) || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
cmake --build "$build" --target corvane_screenshots pak minizip >/dev/null
mkdir -p "$root/docs/screenshots"
# The sandbox is built with the tools of the program folder, which the screenshot tool shares.
xvfb-run -a -s "-screen 0 1280x800x24" env -u QT_QPA_PLATFORM \
    "$build/bin/corvane_screenshots" "$root/docs/screenshots"
ls -l "$root/docs/screenshots"
