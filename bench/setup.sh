#!/usr/bin/env bash
# Installs the Debian 12 packages that only the benchmarks need: real game content (the
# OpenArena data), a Quake 3-engine server that reads pk3 files, and the measuring tools.
# Only what is missing is installed; sudo is used when not running as root.
set -euo pipefail
usage="Usage: bench/setup.sh   (no arguments)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# == 0)) || { echo "$usage" >&2; exit 2; }

packages=(
    openarena-data openarena-088-data ioquake3-server
    strace time zip unzip p7zip-full python3
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0
echo "Installing: ${missing[*]}"
sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
