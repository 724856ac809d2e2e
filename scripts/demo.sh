#!/usr/bin/env bash
# The main job: builds both targets and runs the updater under Wine the way the games client starts it,
# then prints what the run did and its exit code.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$OV_ROOT"

"${OV_ROOT}/scripts/setup.sh"
"${OV_ROOT}/scripts/build.sh" >/dev/null
"${OV_ROOT}/scripts/wine-session.sh" start
trap '"${OV_ROOT}/scripts/wine-session.sh" stop' EXIT

"$OV_PYTHON" "${OV_ROOT}/tools/demo/run_demo.py"
