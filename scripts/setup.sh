#!/usr/bin/env bash
# Installs what building and testing the tool needs on Debian 12: the native
# toolchain and test libraries, the i686 and x86-64 MinGW-w64 cross-compilers
# for the 32-bit and 64-bit Windows executables, and 32-bit Wine and wine64 to
# run them in the tests.
# Runs as root with no standard input; safe to run again (installed packages
# are skipped, and apt-get update runs at most once).
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: run as root" >&2
    exit 1
fi

# The tool on the simulated host (python3-jsonschema checks the erase
# record against its schema); then, for the tests, what checks the
# certificates page (python3-html5lib parses it, chromium prints it and
# poppler-utils counts its pages), the fuzzers (clang's libFuzzer and
# sanitizer runtimes), the Windows cross-compilers and Wine, unless
# VELTRANE_SETUP_MINIMAL asks for the first group only.
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev python3
    python3-jsonschema)
minimal="${VELTRANE_SETUP_MINIMAL:-0}"
if [ "$minimal" = 0 ]; then
    packages+=(python3-html5lib chromium poppler-utils)
    packages+=(clang libclang-rt-14-dev time g++-mingw-w64-i686 binutils-mingw-w64-i686
        g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine32:i386 wine64)
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
# registered with binfmt_misc. It has to be qemu 9.1 or later: older ones
# emulate Wine's address-space reservation one 64 KiB block at a time (about
# a minute per Wine start) and crash Wine's device manager. Debian 12 has
# such a qemu in bookworm-backports; later releases have it in main.
wine_loader=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
qemu_new_enough() {
    local v
    installed qemu-user || return 1
    v="$(dpkg-query -W -f='${Version}' qemu-user)"
    dpkg --compare-versions "$v" ge 1:9.1
}
if [ "$minimal" = 0 ] && { [ -e "$binfmt/qemu-i386" ] || ! "$wine_loader" --version >/dev/null 2>&1; }; then
    if ! qemu_new_enough; then
        release=()
        if [ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" = bookworm ]; then
            list=/etc/apt/sources.list.d/veltrane-backports.list
            if [ ! -e "$list" ]; then
                echo "deb http://deb.debian.org/debian bookworm-backports main" >"$list"
                updated=0
            fi
            release=(-t bookworm-backports)
        fi
        update_once
        # It replaces (and removes) an older qemu-user-static.
        apt-get install -y -q --no-install-recommends "${release[@]}" qemu-user </dev/null
    fi
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt"
    fi
    # An entry for another emulator is replaced.
    if [ -e "$binfmt/qemu-i386" ] && ! grep -qx "interpreter $qemu" "$binfmt/qemu-i386"; then
        echo -1 >"$binfmt/qemu-i386"
    fi
    if [ ! -e "$binfmt/qemu-i386" ]; then
        # ELF32, little-endian, executable or shared object, machine i386.
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register"
    fi
    if ! "$wine_loader" --version >/dev/null 2>&1; then
        echo "setup.sh: 32-bit programs cannot run here, not even under qemu" >&2
        exit 1
    fi
    echo "setup.sh: 32-bit programs run under $("$qemu" --version | head -n 1)"
fi

echo "setup.sh: all packages present"
