#!/usr/bin/env bash
# Configures and builds Corvane into a build folder (default: build). Extra arguments go to CMake.
set -euo pipefail
usage="Usage: scripts/build.sh [CMAKE_OPTION ...]   (e.g. -DCORVANE_TESTS=ON; CORVANE_BUILD_DIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
for option in "$@"; do
    [[ $option == -* ]] || { echo "$usage" >&2; exit 2; }
done
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
