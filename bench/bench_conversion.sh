#!/usr/bin/env bash
# Times the whole conversion of a generated Quake 2 folder of the real size against the same
# file work done by hand in the same run (pak -x of the three archives, one zip -r -6 over the
# same files, rm -r of the tree), and prints the ratio with PASS or FAIL against its target.
# Usage: bench/bench_conversion.sh   (builds into $CORVANE_BUILD_DIR or build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-$root/build}
[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -G Ninja -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target corvane_conversion_bench pak minizip >/dev/null
bin=$build/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench-conversion-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/conversion/make_quake2.py" "$root/conversion/pak0_manifest.txt" "$work/trees"
q2=$work/Quake2 q3=$work/Quake3
mkdir -p "$q2/baseq2" "$q3/qfbastion"
for n in 0 1 2; do "$bin/pak" -c "$q2/baseq2/pak$n.pak" "$work/trees/pak$n"; done
rm -rf "$work/trees"
echo "pak0.pak: $(du -m "$q2/baseq2/pak0.pak" | cut -f1) MB"

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The program, answering its boxes with OK.
convert_once() {
    rm -rf "$work/prog" "$q3/qfbastion"/* && mkdir "$work/prog"
    cp "$bin/pak" "$bin/minizip" "$work/prog/"
    sync
    "$bin/corvane_conversion_bench" "$work/prog" "$q2/" "$q3/" 2>/dev/null | cut -d' ' -f1
}

# The same file work by hand.
by_hand_once() {
    rm -rf "$work/hand" && mkdir "$work/hand" && cd "$work/hand"
    sync
    local start=$EPOCHREALTIME
    "$bin/pak" -x "$q2/baseq2/pak0.pak" >/dev/null
    "$bin/pak" -x "$q2/baseq2/pak1.pak" pics/tag1.pcx pics/tag2.pcx >/dev/null
    "$bin/pak" -x "$q2/baseq2/pak2.pak" >/dev/null
    zip -q -r -6 all.zip env models pics sound sprites
    rm -r env models pics sound sprites textures maps demos ./*.cfg maps.lst
    seconds "$start" "$EPOCHREALTIME"
    cd "$work"
}

best() { printf '%s\n' "$@" | sort -n | head -1; }
program=$(best "$(convert_once)" "$(convert_once)" "$(convert_once)")
hand=$(best "$(by_hand_once)" "$(by_hand_once)" "$(by_hand_once)")
ratio=$(awk -v a="$program" -v b="$hand" 'BEGIN { printf "%.2f", a / b }')
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.5) ? "PASS" : "FAIL" }')
printf 'conversion %ss, by hand %ss\n' "$program" "$hand"
printf '%-40s %8s  (target <= 1.5)  %s\n' "whole conversion / by hand" "$ratio" "$verdict"
[[ $verdict == PASS ]]
