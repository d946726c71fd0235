#!/usr/bin/env bash
# Runs the already built suite of a build folder (default: build) as the unprivileged user
# nobody, when started as root. The build folder is lent to that user for the run: the suite
# writes its logs there.
set -euo pipefail
usage="Usage: scripts/test-unprivileged.sh [BUILD_FOLDER]   (default: build)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# <= 1)) && [[ -d ${1:-.} ]] || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if ((EUID != 0)); then
    echo "Not root: the suite already runs unprivileged."
    exec env QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure \
        --parallel "$(nproc)" --timeout 600
fi
owner=$(stat -c %u:%g "$build")
restore() { chown -R "$owner" "$build"; }
trap restore EXIT
chown -R 65534:65534 "$build"
# The user must reach the build folder: every folder above it needs search permission.
for dir in "$build" $(dirname "$build"); do
    while [[ $dir != / ]]; do
        perms=$(stat -c %a "$dir")
        ((8#$perms & 8#001)) || { echo "nobody cannot reach $dir (mode $perms)"; exit 1; }
        dir=$(dirname "$dir")
    done
done
setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
    env -u XDG_RUNTIME_DIR -u XDG_CACHE_HOME HOME=/tmp TMPDIR=/tmp QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
