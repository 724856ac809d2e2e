#!/usr/bin/env bash
# Creates the project's own Wine prefix once: headless (null graphics driver), Windows 10, no Mono/Gecko.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

marker="${WINEPREFIX}/.ov-ready"
[ -f "$marker" ] && exit 0

ov_log "creating the Wine prefix ${WINEPREFIX#"${OV_ROOT}"/}"
mkdir -p "$(dirname "$WINEPREFIX")"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine winecfg -v win10 >/dev/null 2>&1
wineserver -w
touch "$marker"
