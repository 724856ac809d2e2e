#!/usr/bin/env bash
# Builds both targets: the shipped 32-bit Updater.exe (build/x86) and the 64-bit test build (build/x64).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$OV_ROOT"
for preset in mingw-x86 mingw-x64; do
    # Configuring again is quick and applies the preset's cache values to an existing folder.
    cmake --preset "$preset" >/dev/null
    ov_log "building ${preset}"
    cmake --build --preset "$preset"
done
