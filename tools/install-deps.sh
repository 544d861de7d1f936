#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the program.
# Only packages that are missing are installed, so a second run is quick and offline.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-websockets-dev libqt6svg6 qt6-translations-l10n qcoro-qt6-dev qtkeychain-qt6-dev libqrencode-dev libarchive-dev
    libcpp-httplib-dev libsqlite3-dev libssl-dev nlohmann-json3-dev uuid-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libsecret-1-0 fonts-dejavu-core xvfb xauth dbus at-spi2-core gnome-keyring openssl
    zip unzip curl time sqlite3 python3
    dpkg-dev desktop-file-utils appstream file zbar-tools imagemagick
    clang libfuzzer-14-dev clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
