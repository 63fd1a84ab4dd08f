#!/usr/bin/env bash
# Installs what building and testing the tool needs on Debian 12: the native
# toolchain and test libraries, the i686 MinGW-w64 cross-compiler for the
# Windows executable, and 32-bit Wine to run that executable in the tests.
# Runs as root with no standard input; safe to run again (installed packages
# are skipped, and apt-get update runs at most once).
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: run as root" >&2
    exit 1
fi

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

updated=0
update_once() {
    if [ "$updated" -eq 0 ]; then
        apt-get update -q </dev/null
        updated=1
    fi
}

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    update_once
fi

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
    update_once
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

echo "setup.sh: all packages present"
