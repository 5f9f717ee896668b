#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need. Quick when all
# are present: apt is only asked when something is missing.
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webchannel-dev libqt6opengl6-dev
    libavahi-core-dev zlib1g-dev libssl-dev libisal-dev
    xvfb libxcb1-dev python3-zeroconf iproute2 util-linux
    clang-14 libclang-rt-14-dev lld
    fonts-open-sans
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
