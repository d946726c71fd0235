#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Corvane need.
# Only what is missing is installed; when not running as root, through sudo, or su where
# there is no sudo.
set -euo pipefail
usage="Usage: scripts/install-deps.sh   (no arguments)"
case ${1-} in -h | --help) echo "$usage"; exit 0 ;; esac
(($# == 0)) || { echo "$usage" >&2; exit 2; }

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
    libzip-dev zlib1g-dev libdeflate-dev
    libgtest-dev libgmock-dev googletest
    clang libclang-rt-14-dev
    python3 unzip zip p7zip-full e2fsprogs mount
    xvfb xauth desktop-file-utils qt6-wayland
    clang-tidy clang-format
    dpkg-dev lintian appstream
    ioquake3-server
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
install=(apt-get install -y -qq --no-install-recommends "${missing[@]}")
if ((EUID == 0)); then
    apt-get update -qq
    "${install[@]}"
elif command -v sudo >/dev/null; then
    sudo apt-get update -qq
    sudo "${install[@]}"
else
    # Debian installed with a root password has no sudo: su asks for that password.
    echo "No sudo here: su asks for the root password."
    su root -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive ${install[*]}"
fi
