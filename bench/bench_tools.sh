#!/usr/bin/env bash
# Times pak and minizip on data of the real size against cp -r and zip run on the same data
# here and now, and prints each ratio with PASS or FAIL against its target.
# Usage: bench/bench_tools.sh [BIN_FOLDER]   (default: $CORVANE_BUILD_DIR/bin or build/bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-${CORVANE_BUILD_DIR:-$root/build}/bin}" && pwd)
pak=$bin/pak minizip=$bin/minizip
for tool in "$pak" "$minizip" /usr/bin/zip /usr/bin/time; do
    [[ -x $tool ]] || { echo "missing $tool" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$root/bench/tools/make_game_data.py" src add.list
"$pak" -c game.pak src

# Wall seconds of the best of $1 runs of the rest of the line; `prepare` runs untimed before each,
# then sync, so that writing back an earlier run's data does not slow the next.
best_of() {
    local runs=$1 best= start end took
    shift
    for ((i = 0; i < runs; i++)); do
        prepare
        sync
        start=$EPOCHREALTIME
        "$@"
        end=$EPOCHREALTIME
        took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        best=$(awk -v a="$best" -v b="$took" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    echo "$best"
}

# Prints "name ratio target PASS|FAIL"; a missed target makes the script fail at the end.
failed=0
verdict() {
    local ok
    ok=$(awk -v r="$2" -v t="$3" 'BEGIN { print (r <= t) ? "PASS" : "FAIL" }')
    [[ $ok == PASS ]] || failed=1
    printf '%-40s %8s  (target <= %s)  %s\n' "$1" "$2" "$3" "$ok"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

extract_pak() { (cd out && "$pak" -x ../game.pak); }
copy_tree() { cp -r src out; }
prepare() { rm -rf out && mkdir out; }
pak_time=$(best_of 3 extract_pak)
prepare() { rm -rf out; }
cp_time=$(best_of 3 copy_tree)
diff -r src out >/dev/null || { echo "pak -x produced a different tree" >&2; exit 1; }
rm -rf out && mkdir out
pak_rss=$(cd out && /usr/bin/time -f %M "$pak" -x ../game.pak 2>&1 >/dev/null | tail -1)

# The program's way: runs of at most 30 files, backslash separators.
add_in_runs() {
    (cd src && sed 's|/|\\|g' ../add.list | xargs -d '\n' -n 30 "$minizip" -a ../runs.pk3)
}
zip_once() { (cd src && zip -q -6 ../once.zip -@ <../add.list); }
prepare() { rm -f runs.pk3; }
minizip_time=$(best_of 3 add_in_runs)
prepare() { rm -f once.zip; }
zip_time=$(best_of 3 zip_once)
unzip -tq runs.pk3 >/dev/null || { echo "runs.pk3 fails unzip -t" >&2; exit 1; }
minizip_rss=$(cd src && /usr/bin/time -f %M "$minizip" -a ../runs.pk3 \
    "$(head -1 ../add.list)" 2>&1 | tail -1)

echo "pak -x: ${pak_time}s  cp -r: ${cp_time}s  peak RSS ${pak_rss} KiB"
echo "minizip, $(wc -l <add.list) files in runs of 30: ${minizip_time}s  zip -6 once: ${zip_time}s" \
    " peak RSS of one run on the full archive ${minizip_rss} KiB"
verdict "pak -x time / cp -r time" "$(ratio "$pak_time" "$cp_time")" 1.5
verdict "pak -x peak RSS (MB)" "$(awk -v k="$pak_rss" 'BEGIN { printf "%.1f", k / 1024 }')" 16
verdict "minizip runs time / zip -6 time" "$(ratio "$minizip_time" "$zip_time")" 1.5
exit $failed
