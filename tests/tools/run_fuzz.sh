#!/bin/sh
# Builds the pack reader fuzz target with clang++ and runs it for a bounded time.
# Arguments: TOOLS_SOURCE_DIR FUZZ_SOURCE WORK_DIR PAK_BINARY. Exits 77 (skipped) without clang++.
set -eu
tools=$1 source=$2 work=$3 pak=$4
clang=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$clang" ]; then
    echo "clang++ not found: pack reader fuzzing skipped"
    exit 77
fi
mkdir -p "$work/corpus" "$work/seedtree/pics"
"$clang" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$tools/pak_format/include" -I"$tools/../io/include" "$source" "$tools/pak_format/src/format.cpp" \
    -o "$work/pak_reader_fuzz"
# A real pack as the first seed.
printf 'tag' >"$work/seedtree/pics/tag1.pcx"
printf 'wall' >"$work/seedtree/w.wal"
"$pak" -c "$work/corpus/seed.pak" "$work/seedtree"
cd "$work"
exec ./pak_reader_fuzz -error_exitcode=1 -max_total_time=20 -max_len=4096 -print_final_stats=1 corpus
