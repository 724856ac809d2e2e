#!/usr/bin/env bash
# Runs one Windows program of ours under the project's Wine prefix (CTest's emulator).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
exec wine "$@"
