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

# The tool on the simulated host; then the fuzzers (clang's libFuzzer and
# sanitizer runtimes), the Windows cross-compiler and Wine, unless
# VELTRANE_SETUP_MINIMAL asks for the first group only.
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev python3)
minimal="${VELTRANE_SETUP_MINIMAL:-0}"
if [ "$minimal" = 0 ]; then
    packages+=(clang libclang-rt-14-dev time g++-mingw-w64-i686 binutils-mingw-w64-i686
        wine wine32:i386)
fi

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
if [ "$minimal" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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

# Wine's loader is a 32-bit x86 program. Some virtual machines run only
# 64-bit code (their kernel refuses 32-bit executables with "Exec format
# error"); there, 32-bit programs run under qemu's user-mode emulator,
# registered with binfmt_misc. Slow, but the same Wine.
wine_loader=/usr/lib/wine/wine
if [ "$minimal" = 0 ] && ! "$wine_loader" --version >/dev/null 2>&1; then
    if ! installed qemu-user-static; then
        update_once
        apt-get install -y -q --no-install-recommends qemu-user-static </dev/null
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt"
    fi
    if [ ! -e "$binfmt/qemu-i386" ]; then
        # ELF32, little-endian, executable or shared object, machine i386.
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$binfmt/register"
    fi
    if ! "$wine_loader" --version >/dev/null 2>&1; then
        echo "setup.sh: 32-bit programs cannot run here, not even under qemu" >&2
        exit 1
    fi
    echo "setup.sh: 32-bit programs run under qemu-i386 emulation"
fi

echo "setup.sh: all packages present"
