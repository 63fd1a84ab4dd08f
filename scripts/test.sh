#!/usr/bin/env bash
# Installs what the build needs, builds the tool (and the Windows .exe), and
# runs every test. Usable on a fresh Debian machine as root (or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Wine is installed by the set-up: its tests must run, not skip.
export VELTRANE_REQUIRE_WINE=1

# The default build stands in for the 32-bit program and cross-builds both
# Windows programs (veltrane.exe, veltrane64.exe), whose tests run under Wine.
cmake -S . -B build -G Ninja
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

# The native suite once more in a build that stands in for the 64-bit
# program: its SCSI pass-through envelopes in the 64-bit layout.
cmake -S . -B build-win64 -G Ninja -DVELTRANE_WIN64=ON
cmake --build build-win64 -j2
ctest --test-dir build-win64 --output-on-failure -j2

# The whole suite once more under AddressSanitizer and UndefinedBehavior-
# Sanitizer, in a build directory of its own.
cmake -S . -B build-asan -G Ninja -DVELTRANE_SANITIZE=ON
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

# The fuzz targets, about 30 s each, one after another.
FUZZ_SECONDS="${FUZZ_SECONDS:-30}" bash scripts/fuzz.sh
