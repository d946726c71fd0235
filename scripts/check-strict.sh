#!/usr/bin/env bash
# The strict checks of continuous integration, on a build folder (which must hold
# compile_commands.json): every source formatted as .clang-format says, and clang-tidy's checks
# (.clang-tidy: bugprone, performance, cert-err33-c) without a finding. The build itself turns
# warnings into errors with -DCORVANE_STRICT=ON.
set -euo pipefail
usage="Usage: scripts/check-strict.sh BUILD_FOLDER"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
{ (($# == 1)) && [[ -f $1/compile_commands.json ]]; } || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
cd "$root"

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "format: every source as .clang-format says"

# The fuzz target and the layer probe are built apart, with flags of their own.
mapfile -t sources < <(git ls-files '*.cpp' |
    grep -v -e '^tests/tools/pak_reader_fuzz\.cpp$' -e '^tests/layers/')
if ! run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${sources[@]}" >"$build/clang-tidy.log" 2>&1
then
    grep -E '(warning|error):' "$build/clang-tidy.log" | sort -u
    echo "clang-tidy: the findings above (all of it in $build/clang-tidy.log)"
    exit 1
fi
echo "clang-tidy: no finding in ${#sources[@]} sources"
