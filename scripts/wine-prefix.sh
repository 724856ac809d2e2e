#!/usr/bin/env bash
# Creates the project's own Wine prefix once: headless (null graphics driver), Windows 10, no Mono/Gecko,
# and no crash debugger (a crashing program ends at once instead of waiting in winedbg).
# The marker holds the settings' version, so an older prefix gets the newer settings.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

settings_version=2
marker="${WINEPREFIX}/.ov-ready"
[ -f "$marker" ] && [ "$(cat "$marker")" = "$settings_version" ] && exit 0

if [ ! -f "${WINEPREFIX}/system.reg" ]; then
    ov_log "creating the Wine prefix ${WINEPREFIX#"${OV_ROOT}"/}"
    mkdir -p "$(dirname "$WINEPREFIX")"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine winecfg -v win10 >/dev/null 2>&1
wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
# No "wineserver -w" here: with a test session's persistent server running it would never return, and
# every later process of the prefix talks to the server that holds these settings anyway.
echo "$settings_version" >"$marker"
