#!/usr/bin/env bash
# Times the installation search's walk over a generated tree of 200,000 folders (one folder
# of 20,000 sub-folders, chains 40 deep, a few .exe files and game installations) against
# `find TREE -xdev -type d` over the same tree, in the same run. Prints the ratio of the best
# of three runs each and PASS when it is at most 2.
# CORVANE_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
folders=${BENCH_FOLDERS:-200000}
limit=2

[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target corvane_search_bench >/dev/null
bench=$build/bin/corvane_search_bench

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
    out=$(QT_QPA_PLATFORM=offscreen "$bench" "$tree" 2>"$work/bench.err")
    walk=$(awk '/^walk_seconds/ {print $2}' <<<"$out")
    walk_ns=$(awk -v s="$walk" 'BEGIN {printf "%d", s * 1e9}')
    echo "run $run: find $((find_ns / 1000000)) ms, search walk $((walk_ns / 1000000)) ms"
    ((best_find == 0 || find_ns < best_find)) && best_find=$find_ns
    ((best_walk == 0 || walk_ns < best_walk)) && best_walk=$walk_ns
done
grep -E '^(quake2_found|quake3_found|other_boxes)' <<<"$out"

ratio=$(awk -v w="$best_walk" -v f="$best_find" 'BEGIN {printf "%.2f", w / f}')
verdict=$(awk -v r="$ratio" -v l="$limit" 'BEGIN {print (r <= l) ? "PASS" : "FAIL"}')
echo "search walk / find: ${ratio}x (limit ${limit}x) $verdict"
[[ $verdict == PASS ]]
