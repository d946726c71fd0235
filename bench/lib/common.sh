# Shared pieces of the benchmark scripts: timing, medians, written bytes, verdicts.
# shellcheck shell=bash
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    echo "usage: source bench/lib/common.sh   (from a benchmark script)" >&2
    exit 2
fi

# The folder of the programs timed: $CORVANE_BENCH_BIN, or the build in $CORVANE_BUILD_DIR (or
# build/), where the targets given are built first. Needs $root.
programs_folder() {
    if [[ -n ${CORVANE_BENCH_BIN:-} ]]; then
        realpath "$CORVANE_BENCH_BIN"
        return
    fi
    local build
    build=$(realpath -m "${CORVANE_BUILD_DIR:-$root/build}")
    [[ -f $build/CMakeCache.txt ]] ||
        cmake -S "$root" -B "$build" -G Ninja -DCORVANE_TESTS=OFF >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
    echo "$build/bin"
}

# The median of its arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Wall seconds of the rest of the line.
seconds_of() {
    local start=$EPOCHREALTIME
    "$@"
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}

# Median wall seconds of $1 runs of the rest of the line; `prepare` runs untimed before each,
# then sync, so that writing back an earlier run's data does not slow the next.
median_of() {
    local runs=$1 times=() i
    shift
    for ((i = 0; i < runs; i++)); do
        prepare
        sync
        times+=("$(seconds_of "$@")")
    done
    median "${times[@]}"
}

# Bytes written to files by the rest of the line and its children, counted exactly from the
# system calls that write (strace).
written_bytes() {
    local log
    log=$(mktemp)
    strace -f -qq -e trace=write,pwrite64,writev,pwritev,pwritev2,copy_file_range,sendfile \
        -e signal=none -o "$log" "$@" >/dev/null 2>&1
    # Writes to standard output and error (messages) are not file contents.
    awk '/^[0-9]+ +(write|writev|pwrite64|pwritev|pwritev2|copy_file_range|sendfile)\(/ &&
         !/\((1|2), / && / = [0-9]+$/ { n += $NF } END { printf "%d\n", n }' "$log"
    rm -f "$log"
}

# System calls made by the program that the rest of the line starts, without those of the
# programs it starts: strace writes a log per process and thread, and only the program's own
# and those of the threads it made count, not the processes it started for tools.
own_system_calls() {
    local logs main threads calls=0 log
    logs=$(mktemp -d)
    strace -f -ff -qq -e signal=none -o "$logs/trace" "$@" >/dev/null 2>&1 || true
    # The program's own log: the one that starts with its exec (not the lowest number, as
    # process numbers wrap around).
    main=$(grep -l -m1 "^execve(\"$1\"" "$logs"/trace.* | head -1)
    threads=$(sed -nE 's/^clone3?\(.*CLONE_THREAD.*\) = ([0-9]+)$/\1/p' "$main")
    for log in "$main" $(printf "$logs/trace.%s\n" $threads); do
        [[ -f $log ]] && calls=$((calls + $(grep -cE '^[a-z_0-9]+\(' "$log")))
    done
    rm -rf "$logs"
    echo "$calls"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Prints "name ratio target PASS|FAIL"; a missed target makes the script fail at the end.
failed=0
verdict() {
    local ok
    ok=$(awk -v r="$2" -v t="$3" 'BEGIN { print (r <= t) ? "PASS" : "FAIL" }')
    [[ $ok == PASS ]] || failed=1
    printf '%-58s %8s  (target <= %s)  %s\n' "$1" "$2" "$3" "$ok"
}

# Checks a pk3 with every reader at hand: unzip, 7z, Python's zipfile and a Quake 3 engine.
check_archive() {
    local archive=$1 count=$2 q3
    unzip -tq "$archive" >/dev/null || { echo "$archive fails unzip -t" >&2; return 1; }
    7z t "$archive" >/dev/null || { echo "$archive fails 7z t" >&2; return 1; }
    python3 -c "import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); \
sys.exit(z.testzip() is not None or len(z.namelist()) != int(sys.argv[2]))" "$archive" "$count" ||
        { echo "$archive fails Python's zipfile" >&2; return 1; }
    if [[ -x /usr/lib/ioquake3/ioq3ded ]]; then
        q3=$(mktemp -d)
        mkdir -p "$q3/base/qfbastion" "$q3/base/baseq3"
        ln -s "$(realpath "$archive")" "$q3/base/qfbastion/pak0.pk3"
        local listed
        listed=$(timeout 30 /usr/lib/ioquake3/ioq3ded +set fs_basepath "$q3/base" \
            +set fs_homepath "$q3/home" +set fs_game qfbastion +set dedicated 1 +quit 2>&1 \
            </dev/null || true)
        grep -qF "qfbastion/pak0.pk3 ($count files)" <<<"$listed" ||
            { echo "$archive: ioq3ded does not list $count files" >&2; rm -rf "$q3"; return 1; }
        rm -rf "$q3"
    fi
}
