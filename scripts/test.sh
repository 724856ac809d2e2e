#!/usr/bin/env bash
# Builds both targets and runs every test: the unit tests under Wine through CTest, the end-to-end tests
# with pytest, then the release build's reproducibility. Exits non-zero when anything fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$OV_ROOT"

"${OV_ROOT}/scripts/setup.sh"
"${OV_ROOT}/scripts/build.sh"

"${OV_ROOT}/scripts/wine-session.sh" start
trap '"${OV_ROOT}/scripts/wine-session.sh" stop' EXIT

status=0
ov_log "unit tests (CTest under Wine)"
ctest --preset mingw-x64 || status=1

ov_log "end-to-end tests (pytest)"
"$OV_PYTHON" -m pytest -q -p no:cacheprovider tests || status=1

# Two builds of the commit with the release settings must give the same bytes (64-bit, like the rest here).
ov_log "reproducible release build (the commit built twice, 64-bit; about 3 minutes)"
"${OV_ROOT}/scripts/release.sh" --check-reproducible --arch x64 || status=1
exit "$status"
