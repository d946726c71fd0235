#!/usr/bin/env bash
# Measures pak and minizip on game-like data of the real size against cp -r and zip run on the
# same data here and now, on tmpfs (/dev/shm) and on the disk, and prints each ratio with PASS
# or FAIL against its target. Times are medians of 5 runs. Also prints minizip's start-up: a
# run with nothing to do against /bin/true, medians of 300 starts.
# Usage: bench/bench_tools.sh [BIN_FOLDER]   (default: $CORVANE_BUILD_DIR/bin or build/bin)
# Needs bench/setup.sh for strace, 7z and ioq3ded.
set -euo pipefail
usage="Usage: bench/bench_tools.sh [BIN_FOLDER]   (default: \$CORVANE_BUILD_DIR/bin or build/bin)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# <= 1)) && [[ -d ${1:-.} ]] || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-${CORVANE_BUILD_DIR:-$root/build}/bin}" && pwd)
pak=$bin/pak minizip=$bin/minizip
for tool in "$pak" "$minizip" /usr/bin/zip /usr/bin/time /usr/bin/strace; do
    [[ -x $tool ]] || { echo "missing $tool (run bench/setup.sh)" >&2; exit 2; }
done
# shellcheck source=bench/lib/common.sh
source "$root/bench/lib/common.sh"
manifest=$root/core/conversion/src/pak0_manifest.txt

# Game data in src and the files of one pk3 in add.list: generated, or real game content
# under the names of the first archive (bench/conversion/make_quake2.py --real).
make_data() {
    if [[ $1 == generated ]]; then
        python3 "$root/bench/tools/make_game_data.py" src add.list >/dev/null
        return
    fi
    python3 "$root/bench/conversion/make_quake2.py" "$manifest" trees --real >/dev/null
    mv trees/pak0 src && rm -rf trees
    sed 's/^\\//; s/\r$//' "$manifest" |
        grep -iE '^(env|models|pics|sound|sprites)\\' | sed 's|\\|/|g' >add.list
}

bench_on() {
    local where=$1 content=$2 work
    work=$(mktemp -d "$where/corvane-bench-XXXXXX")
    trap 'rm -rf "$work"' RETURN
    cd "$work"
    make_data "$content"
    "$pak" -c game.pak src
    local label=" ($content, $(stat -f -c %T "$where"))"

    extract_pak() { (cd out && "$pak" -x ../game.pak); }
    copy_tree() { cp -r src out; }
    prepare() { rm -rf out && mkdir out; }
    local pak_time cp_time
    pak_time=$(median_of 5 extract_pak)
    prepare() { rm -rf out; }
    cp_time=$(median_of 5 copy_tree)
    diff -r src out >/dev/null || { echo "pak -x produced a different tree" >&2; exit 1; }
    rm -rf out && mkdir out
    local pak_rss
    pak_rss=$(cd out && /usr/bin/time -f %M "$pak" -x ../game.pak 2>&1 >/dev/null | tail -1)

    # The program's way: runs of at most 30 files, backslash separators.
    sed 's|/|\\|g' add.list >add.bs
    add_in_runs() { (cd src && xargs -d '\n' -n 30 "$minizip" -a ../runs.pk3 <../add.bs); }
    zip_once() { (cd src && zip -q -6 ../once.zip -@ <../add.list); }
    prepare() { rm -f runs.pk3; }
    local minizip_time zip_time
    minizip_time=$(median_of 5 add_in_runs)
    prepare() { rm -f once.zip; }
    zip_time=$(median_of 5 zip_once)
    check_archive runs.pk3 "$(wc -l <add.list)"
    rm -f runs.pk3
    local written
    written=$(cd src && written_bytes xargs -d '\n' -n 30 "$minizip" -a ../runs.pk3 <../add.bs)

    # Memory: 30 files of 8 MB in one run.
    python3 - <<'PY'
import os, random
os.makedirs("big")
pattern = bytes(range(48)) * 200
for i in range(30):
    with open(f"big/f{i:02d}", "wb") as f:
        for _ in range(8_000_000 // 8192):
            f.write(os.urandom(8192) if random.random() < 0.5 else pattern[:8192])
PY
    local minizip_rss
    minizip_rss=$(cd big && /usr/bin/time -f %M "$minizip" -a ../big.pk3 f* 2>&1 | tail -1)

    echo "pak -x$label: ${pak_time}s  cp -r: ${cp_time}s  peak RSS ${pak_rss} KiB"
    echo "minizip$label, $(wc -l <add.list) files in runs of 30: ${minizip_time}s," \
        "zip -6 once: ${zip_time}s; $written bytes written for $(stat -c %s runs.pk3)" \
        "(zip's archive: $(stat -c %s once.zip)); peak RSS for 30 x 8 MB ${minizip_rss} KiB"
    verdict "pak -x time / cp -r time$label" "$(ratio "$pak_time" "$cp_time")" 1.25
    verdict "pak -x peak RSS (MB)$label" "$(awk -v k="$pak_rss" 'BEGIN { printf "%.1f", k / 1024 }')" 8
    verdict "minizip 38 runs time / zip -6 once time$label" "$(ratio "$minizip_time" "$zip_time")" 0.5
    verdict "minizip archive size / zip -6 archive size$label" \
        "$(ratio "$(stat -c %s runs.pk3)" "$(stat -c %s once.zip)")" 1.01
    verdict "bytes written by the 38 runs / final archive$label" \
        "$(ratio "$written" "$(stat -c %s runs.pk3)")" 1.25
    verdict "minizip peak RSS, 30 files of 8 MB (MB)$label" \
        "$(awk -v k="$minizip_rss" 'BEGIN { printf "%.1f", k / 1024 }')" 64
    cd "$root"
}

# Start-up: what each of the conversion's 38 runs pays before any work.
startup=$(mktemp -d)
minizip_start=$(cd "$startup" && python3 "$root/bench/lib/startup.py" 300 "$minizip" -a none.pk3)
true_start=$(python3 "$root/bench/lib/startup.py" 300 /bin/true)
rm -rf "$startup"
echo "start-up: minizip with nothing to do ${minizip_start} ms, /bin/true ${true_start} ms;" \
    "libraries: $(ldd "$minizip" | awk '$1 ~ /^lib/ { printf "%s ", $1 }')"

contents=(generated)
[[ -d /usr/share/games/openarena ]] && contents+=(real) || echo "no OpenArena data (bench/setup.sh): real content skipped"
for content in "${contents[@]}"; do
    bench_on /dev/shm "$content"
    bench_on "${CORVANE_BENCH_DISK:-/var/tmp}" "$content"
done
exit $failed
