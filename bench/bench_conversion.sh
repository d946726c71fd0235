#!/usr/bin/env bash
# Times the whole conversion (corvane convert QUAKE2 QUAKE3) of a Quake 2 folder of the real
# size against the same file work done by hand in the same run (pak -x of the three archives,
# one zip -r -6 over the same five folders, rm -r of the tree), on generated data, on real game
# content and on small files that hardly compress (about 15 MB go into pak0.pk3), on tmpfs
# (/dev/shm) and on the disk. The two roads take turns, run after run, so that a machine busy
# with other work slows both alike; times are medians of 5. Also counts the bytes the
# conversion writes against the unpacked tree plus the final archives, and the system calls of
# the program itself (its tools left out) per unpacked file. Prints each ratio with PASS or FAIL,
# and, in the same turns, the floor: the unpacking and deletion by hand with one start of the
# zip tool per run the conversion makes, which no conversion that keeps its runs can beat.
# Usage: bench/bench_conversion.sh [generated|real|small ...]   (all three when none is given;
# builds into $CORVANE_BUILD_DIR or build, or takes corvane, pak and minizip from
# $CORVANE_BENCH_BIN; needs bench/setup.sh for the real content and strace)
# CORVANE_BENCH_BASELINE: a folder with another build's corvane, pak and minizip, timed in the
# same turns, for a before and after measured alike. CORVANE_BENCH_PLACES: the folders to work
# in (default: /dev/shm and $CORVANE_BENCH_DISK or /var/tmp).
set -euo pipefail
usage="Usage: bench/bench_conversion.sh [generated|real|small ...]"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
for content in "$@"; do
    [[ $content =~ ^(generated|real|small)$ ]] || { echo "$usage" >&2; exit 2; }
done
# shellcheck source=bench/lib/common.sh
source "$root/bench/lib/common.sh"
bin=$(programs_folder corvane pak minizip)
runs=${CORVANE_BENCH_RUNS:-5}

bench_on() {
    local where=$1 content=$2 work
    work=$(mktemp -d "$where/corvane-bench-conversion-XXXXXX")
    trap 'rm -rf "$work"' RETURN
    local label=" ($content, $(stat -f -c %T "$where"))"
    python3 "$root/bench/conversion/make_quake2.py" "$root/core/conversion/src/pak0_manifest.txt" \
        "$work/trees" $([[ $content == generated ]] || echo "--$content") >/dev/null
    local q2=$work/Quake2 q3=$work/Quake3 unpacked=0 files=0 n
    mkdir -p "$q2/baseq2" "$q3/qfbastion" "$q3/baseq3"
    python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').writestr('default.cfg', '')" \
        "$q3/baseq3/pak0.pk3"
    for n in 0 1 2; do "$bin/pak" -c "$q2/baseq2/pak$n.pak" "$work/trees/pak$n"; done
    # What pak -x writes: every member of pak0 and pak2, the two pictures of pak1.
    unpacked=$(du -sb --apparent-size "$work/trees/pak0" "$work/trees/pak1" "$work/trees/pak2" |
        awk '{ n += $1 } END { print n }')
    files=$(find "$work/trees/pak0" "$work/trees/pak2" -type f | wc -l)
    files=$((files + 2))
    rm -rf "$work/trees"

    # The program, from a program folder of its own on the file system measured: it works there.
    convert() { "$work/prog/corvane" convert "$q2" "$q3" >/dev/null 2>"$work/convert.log"; }
    program_folder() {
        rm -rf "$work/prog" "$q3/qfbastion"/* && mkdir "$work/prog"
        cp "${1:-$bin}/corvane" "${1:-$bin}/pak" "${1:-$bin}/minizip" "$work/prog/"
    }
    # The same file work by hand.
    by_hand() {
        (cd "$work/hand" &&
            "$bin/pak" -x "$q2/baseq2/pak0.pak" >/dev/null &&
            "$bin/pak" -x "$q2/baseq2/pak1.pak" pics/tag1.pcx pics/tag2.pcx >/dev/null &&
            "$bin/pak" -x "$q2/baseq2/pak2.pak" >/dev/null &&
            zip -q -r -6 all.zip env models pics sound sprites &&
            rm -r env models pics sound sprites textures maps demos ./*.cfg maps.lst)
    }
    prepare_hand() { rm -rf "$work/hand" && mkdir "$work/hand"; }
    # What the conversion cannot do without: the same unpacking and deletion as by hand, and
    # one start of the zip tool per run it makes (30 files a run for pak0.pk3, one last run,
    # one each for pak1.pk3 and pak2.pk3), each adding one empty file: no program that unpacks
    # the whole of pak0.pak and packs 30 files per zip run can be faster.
    local zip_runs
    floor() {
        (cd "$work/hand" &&
            "$bin/pak" -x "$q2/baseq2/pak0.pak" >/dev/null &&
            "$bin/pak" -x "$q2/baseq2/pak1.pak" pics/tag1.pcx pics/tag2.pcx >/dev/null &&
            "$bin/pak" -x "$q2/baseq2/pak2.pak" >/dev/null && : >empty &&
            for ((run = 0; run < zip_runs; run++)); do
                "$bin/minizip" -a floor.zip empty >/dev/null || return
            done &&
            rm -r env models pics sound sprites textures maps demos ./*.cfg maps.lst)
    }
    # The two roads take turns: each run of the program is followed by one by hand.
    local program_times=() by_hand_times=() floor_times=() baseline_times=() i
    for ((i = 0; i < runs; i++)); do
        if [[ -n ${CORVANE_BENCH_BASELINE:-} ]]; then
            program_folder "$CORVANE_BENCH_BASELINE" && sync
            baseline_times+=("$(seconds_of convert)")
        fi
        program_folder && sync
        program_times+=("$(seconds_of convert)")
        [[ -f $q3/qfbastion/pak2.pk3 ]] || { cat "$work/convert.log" >&2; exit 1; }
        prepare_hand && sync
        by_hand_times+=("$(seconds_of by_hand)")
        zip_runs=$(($(unzip -Z1 "$q3/qfbastion/pak0.pk3" | wc -l) / 30 + 3))
        prepare_hand && sync
        floor_times+=("$(seconds_of floor)")
    done
    local program_time by_hand_time floor_time
    program_time=$(median "${program_times[@]}")
    by_hand_time=$(median "${by_hand_times[@]}")
    floor_time=$(median "${floor_times[@]}")
    check_archive "$q3/qfbastion/pak0.pk3" "$(unzip -Z1 "$q3/qfbastion/pak0.pk3" | wc -l)"

    program_folder
    local written archives calls
    written=$(written_bytes "$work/prog/corvane" convert "$q2" "$q3")
    archives=$(du -cb --apparent-size "$q3/qfbastion"/*.pk3 | tail -1 | cut -f1)
    program_folder
    calls=$(own_system_calls "$work/prog/corvane" convert "$q2" "$q3")

    echo "conversion$label: ${program_time}s, by hand ${by_hand_time}s;" \
        "$written bytes written for $unpacked unpacked and $archives in archives;" \
        "$calls system calls of its own for $files unpacked files"
    if [[ -n ${CORVANE_BENCH_BASELINE:-} ]]; then
        local baseline_time
        baseline_time=$(median "${baseline_times[@]}")
        echo "baseline$label: ${baseline_time}s, $(ratio "$baseline_time" "$by_hand_time")x by hand"
    fi
    echo "floor$label: ${floor_time}s (unpacking, $zip_runs zip runs of an empty file, deleting):" \
        "$(ratio "$floor_time" "$by_hand_time")x by hand"
    verdict "whole conversion / by hand$label" "$(ratio "$program_time" "$by_hand_time")" 0.6
    verdict "own system calls per unpacked file$label" "$(ratio "$calls" "$files")" 3
    verdict "bytes written / (unpacked tree + archives)$label" \
        "$(ratio "$written" "$((unpacked + archives))")" 1.15
}

echo "corvane, pak and minizip from $bin"
(($# > 0)) || set -- generated real small
read -ra places <<<"${CORVANE_BENCH_PLACES:-/dev/shm ${CORVANE_BENCH_DISK:-/var/tmp}}"
for content in "$@"; do
    for place in "${places[@]}"; do
        bench_on "$place" "$content"
    done
done
exit $failed
