#!/usr/bin/env bash
# Times the installation search's walk (corvane find TREE) over a generated tree of 200,000
# folders (one folder of 20,000 sub-folders, chains 40 deep, a few .exe files and game
# installations) against `find TREE -xdev -type d` over the same tree, in the same run. Prints
# the ratio of the best of three runs each and PASS when it is at most 2.
# CORVANE_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
usage="Usage: bench/bench_search.sh   (no arguments; CORVANE_BUILD_DIR, BENCH_FOLDERS, BENCH_TMPDIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# == 0)) || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
folders=${BENCH_FOLDERS:-200000}
limit=2

[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -G Ninja -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target corvane >/dev/null
corvane=$build/bin/corvane

# A memory-backed folder keeps making and removing the tree quick; both walks read the same.
work=$(mktemp -d -p "${BENCH_TMPDIR:-$( [[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}")
trap 'rm -rf "$work"' EXIT
tree=$work/tree
start=$(date +%s)
python3 "$root/bench/search/make_tree.py" "$tree" "$folders"
echo "tree: $(find "$tree" -xdev -type d | wc -l) folders, made in $(($(date +%s) - start)) s"

now() { date +%s%N; }
best_find=0
best_walk=0
for run in 1 2 3; do
    start=$(now)
    find "$tree" -xdev -type d >/dev/null
    find_ns=$(($(now) - start))
    start=$(now)
    "$corvane" find "$tree" >"$work/found" 2>"$work/find.err" || true
    walk_ns=$(($(now) - start))
    echo "run $run: find $((find_ns / 1000000)) ms, corvane find $((walk_ns / 1000000)) ms"
    ((best_find == 0 || find_ns < best_find)) && best_find=$find_ns
    ((best_walk == 0 || walk_ns < best_walk)) && best_walk=$walk_ns
done
echo "found: $(grep -c '^quake2' "$work/found" || true) Quake 2 and" \
    "$(grep -c '^quake3' "$work/found" || true) Quake 3 folders"

ratio=$(awk -v w="$best_walk" -v f="$best_find" 'BEGIN {printf "%.2f", w / f}')
verdict=$(awk -v r="$ratio" -v l="$limit" 'BEGIN {print (r <= l) ? "PASS" : "FAIL"}')
echo "corvane find / find: ${ratio}x (limit ${limit}x) $verdict"
[[ $verdict == PASS ]]
