#!/usr/bin/env bash
# Installs what the build needs, builds the tool and runs it on the embedded
# default host (one drive of every kind). Arguments go to the tool.
set -euo pipefail
cd "$(dirname "$0")/.."

VELTRANE_SETUP_MINIMAL=1 bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target veltrane
exec ./build/veltrane "$@"
