#!/usr/bin/env bash
# Installs what is missing, builds Corvane with its tests and runs the whole suite.
# CORVANE_BUILD_DIR picks the build folder; extra arguments go to CMake.
set -euo pipefail
usage="Usage: scripts/test.sh [CMAKE_OPTION ...]   (e.g. -DCMAKE_BUILD_TYPE=Debug; CORVANE_BUILD_DIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
for option in "$@"; do
    [[ $option == -* ]] || { echo "$usage" >&2; exit 2; }
done
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
CORVANE_BUILD_DIR=$build "$root/scripts/build.sh" -DCORVANE_TESTS=ON "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
