#!/usr/bin/env bash
# Times the installation search's walk against `find TREE -xdev -type d` over the same tree, in
# the same run: `corvane find TREE`, and the wizard's "Auto Search" from the click to its first
# box with TREE as its only drive (corvane_bench_auto_search, on the offscreen platform). The
# trees: a generated one of 200,000 folders (one folder of 20,000 sub-folders, chains 40 deep,
# a few .exe files and game installations) and /usr, or the folders given. The walks take
# turns, run after run, so that a machine busy with other work slows them alike; each figure
# is the median of 5 runs (CORVANE_BENCH_RUNS). Prints each ratio with PASS or FAIL.
# Usage: bench/bench_search.sh [FOLDER ...]   (builds into $CORVANE_BUILD_DIR or build, or takes
# corvane and corvane_bench_auto_search from $CORVANE_BENCH_BIN)
set -euo pipefail
usage="Usage: bench/bench_search.sh [FOLDER ...]   (CORVANE_BUILD_DIR, BENCH_FOLDERS, BENCH_TMPDIR)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
for tree in "$@"; do
    [[ -d $tree ]] || { echo "$usage" >&2; exit 2; }
done
# shellcheck source=bench/lib/common.sh
source "$root/bench/lib/common.sh"
bin=$(programs_folder corvane corvane_bench_auto_search)
runs=${CORVANE_BENCH_RUNS:-5}
folders=${BENCH_FOLDERS:-200000}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

# Milliseconds of the rest of the line, its output discarded.
milliseconds_of() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
}

bench_on() {
    local tree=$1 label=" ($1)" finds=() walks=() searches=() i
    for ((i = 0; i < runs; i++)); do
        finds+=("$(milliseconds_of find "$tree" -xdev -type d)")
        walks+=("$(milliseconds_of "$bin/corvane" find "$tree")")
        # The wizard measures itself: from the click on "Auto Search" to its first box.
        searches+=("$("$bin/corvane_bench_auto_search" "$tree" 2>/dev/null)")
    done
    local find_ms walk_ms search_ms
    find_ms=$(median "${finds[@]}")
    walk_ms=$(median "${walks[@]}")
    search_ms=$(median "${searches[@]}")
    echo "walks$label: find ${find_ms} ms, corvane find ${walk_ms} ms," \
        "Auto Search to its first box ${search_ms} ms (medians of $runs)"
    verdict "corvane find / find$label" "$(ratio "$walk_ms" "$find_ms")" 1.1
    verdict "Auto Search to its first box / find$label" "$(ratio "$search_ms" "$find_ms")" 1.0
}

echo "corvane from $bin"
if (($# == 0)); then
    # A memory-backed folder keeps making and removing the tree quick; every walk reads the same.
    work=$(mktemp -d -p "${BENCH_TMPDIR:-$([[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm ||
        echo "${TMPDIR:-/tmp}")}")
    trap 'rm -rf "$work"' EXIT
    start=$(date +%s)
    python3 "$root/bench/search/make_tree.py" "$work/tree" "$folders"
    echo "tree: $(find "$work/tree" -xdev -type d | wc -l) folders, made in" \
        "$(($(date +%s) - start)) s; corvane finds" \
        "$("$bin/corvane" find "$work/tree" 2>/dev/null | wc -l) game folders in it"
    set -- "$work/tree" /usr
fi
for tree in "$@"; do
    find "$tree" -xdev -type d >/dev/null 2>&1 || true # the same cache for every walk
    bench_on "$tree"
done
exit $failed
