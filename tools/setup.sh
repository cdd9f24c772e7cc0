#!/usr/bin/env bash
# Installs the Debian packages that are missing (as root, or through sudo) and configures and builds
# the project in build/. Used by run.sh and test.sh; pass extra package names as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev and file let `cmake --build build --target package` find the Debian package's dependencies.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-private-dev qt6-translations-l10n libsqlite3-dev
          mdbtools-dev qtkeychain-qt6-dev radicale xandikos openssl git fonts-crosextra-carlito fonts-dejavu-core dpkg-dev file "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
