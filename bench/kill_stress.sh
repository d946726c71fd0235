#!/usr/bin/env bash
# Kills minizip with SIGKILL at random instants while it adds files to an archive, many times
# over, and checks after each next run that the archive holds exactly the old entries or the
# new ones, each once, with every CRC good, and that nothing is left beside it.
# Usage: bench/kill_stress.sh [TRIALS] [BIN_FOLDER]   (default 250 trials)
set -euo pipefail
usage="Usage: bench/kill_stress.sh [TRIALS] [BIN_FOLDER]   (default: 250 trials, build/bin)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# <= 2)) && [[ ${1:-1} =~ ^[1-9][0-9]*$ && -d ${2:-.} ]] || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
trials=${1:-250}
bin=$(cd "${2:-${CORVANE_BUILD_DIR:-$root/build}/bin}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$root/bench/tools/make_game_data.py" src add.list >/dev/null
sed -n '1,600s|/|\\|gp' add.list >old.list   # the archive before each trial
sed -n '1095,1124s|/|\\|gp' add.list >new.list # the files a killed run adds: 27 MB
(cd src && xargs -d '\n' "$bin/minizip" -a ../base.pk3 <../old.list)

expected() { sed 's|\\|/|g' "$@" | sort; }
expected old.list >old.names
expected old.list new.list >new.names
bad=0 old=0 new=0
for ((i = 1; i <= trials; i++)); do
    cp base.pk3 src/a.pk3
    # shellcheck disable=SC2046 # the names hold no blanks
    (cd src && exec "$bin/minizip" -a a.pk3 $(cat ../new.list)) &
    pid=$!
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.4f", r / 32768 * 0.5 }')"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    (cd src && "$bin/minizip" -a a.pk3) # recovers, adds nothing
    unzip -Z1 src/a.pk3 | sort >found.names
    if cmp -s found.names old.names; then
        old=$((old + 1))
    elif cmp -s found.names new.names; then
        new=$((new + 1))
    else
        echo "trial $i: neither the old entries nor the new" >&2
        bad=$((bad + 1))
    fi
    unzip -tq src/a.pk3 >/dev/null || { echo "trial $i: unzip -t fails" >&2; bad=$((bad + 1)); }
    leftovers=$(find src -maxdepth 1 -name 'a.pk3?*' -o -maxdepth 1 -name '.a.pk3*' | wc -l)
    [[ $leftovers == 0 ]] || { echo "trial $i: $leftovers files beside the archive" >&2; bad=$((bad + 1)); }
    rm -f src/a.pk3
done
echo "$trials trials: $old left with the old entries, $new with the new, $bad failures"
[[ $bad == 0 ]]
