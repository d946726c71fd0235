#!/usr/bin/env bash
# Installs what is missing, builds Corvane and makes its Debian package in build/:
# corvane_VERSION_ARCH.deb, with the program in /usr/lib/corvane.
set -euo pipefail
usage="Usage: scripts/package.sh   (no arguments; CORVANE_BUILD_DIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# == 0)) || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
CORVANE_BUILD_DIR=$build "$root/scripts/build.sh" -DCORVANE_TESTS=OFF
(cd "$build" && cpack -G DEB)
ls "$build"/corvane_*.deb
