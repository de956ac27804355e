#!/usr/bin/env bash
# Installs every Debian package the project needs. Quick when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5test5
    libnl-3-dev libnl-genl-3-dev zlib1g-dev libssl-dev
    googletest libgtest-dev
    xvfb xdotool x11-apps fonts-wqy-zenhei python3
    libc6-armhf-cross libc6-armel-cross
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
