#!/usr/bin/env bash
# Installs every Debian 12 package Vestrel needs to build, test and run its demo.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang clang-format libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libicu-dev
    libqt6sql6-sqlite
    qt6-translations-l10n
    libbenchmark-dev
    binutils-mingw-w64-x86-64
    firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-server firebird3.0-utils
    xvfb xauth openbox tint2 xdotool x11-utils
    imagemagick
    libxcb1-dev
    libcanberra-dev
    libsodium-dev libssl-dev qtkeychain-qt6-dev
    fonts-dejavu-core
    dpkg-dev lintian desktop-file-utils
)

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # The Firebird server package asks for a SYSDBA password through debconf; leave it unattended.
    echo "firebird3.0-server shared/firebird/enabled boolean true" | $sudo debconf-set-selections || true
    # A server the package starts at once then already has the password the programs use by default.
    echo "firebird3.0-server shared/firebird/sysdba_password/new_password password tavernfog" |
        $sudo debconf-set-selections || true
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Several programs open the same database through the embedded engine at once.
"$(dirname "$0")"/firebird-setup.sh
