#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Corvane need.
# Only what is missing is installed; sudo is used when not running as root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
    libzip-dev zlib1g-dev libdeflate-dev
    libgtest-dev libgmock-dev googletest
    clang libclang-rt-14-dev
    python3 unzip zip p7zip-full
    xvfb xauth desktop-file-utils
    dpkg-dev lintian
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
sudo=()
if ((EUID != 0)); then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
