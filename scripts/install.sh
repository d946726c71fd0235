#!/usr/bin/env bash
# Installs what is missing, builds Corvane and installs it into a prefix (default ~/.local):
# PREFIX/lib/corvane (program folder), PREFIX/bin/corvane, a desktop entry and the icon.
# The folders it makes are noted in the program folder, for scripts/uninstall.sh to remove.
# CORVANE_INSTALL_FROM=BUILD_FOLDER installs that build as it is: no packages, no build.
set -euo pipefail
usage="Usage: scripts/install.sh [PREFIX]   (default: ~/.local; CORVANE_INSTALL_FROM)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# <= 1)) && [[ ${1-} != -* ]] || { echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$HOME/.local}
build=${CORVANE_INSTALL_FROM:-$root/build}
if [[ -z ${CORVANE_INSTALL_FROM-} ]]; then
    "$root/scripts/install-deps.sh"
    "$root/scripts/build.sh" -DCORVANE_TESTS=OFF
fi
# Every folder the installation puts files in, and those above them, parents first.
folders=(. bin lib lib/corvane share share/applications share/metainfo share/man share/man/man1
    share/bash-completion share/bash-completion/completions share/doc share/doc/corvane
    share/icons share/icons/hicolor share/icons/hicolor/scalable share/icons/hicolor/scalable/apps)
for size in 32 64 128 256; do
    folders+=("share/icons/hicolor/${size}x$size" "share/icons/hicolor/${size}x$size/apps")
done
made=()
for folder in "${folders[@]}"; do
    [[ -d $prefix/$folder ]] || made+=("$folder")
done
cmake --install "$build" --prefix "$prefix"
if ((${#made[@]})); then
    printf '%s\n' "${made[@]}" >"$prefix/lib/corvane/made-folders"
fi
echo "Installed into $prefix; start it with: $prefix/bin/corvane"
